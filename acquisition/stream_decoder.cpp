#include "stream_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "data_file.h"
#include "record_sink.h"
#include "stream_kernels.h"

namespace zarv::acquisition {

namespace {
// Room for the carry, a whole chunk and one frame of zeros behind it, so that a
// frame starting near the end can be read without a bounds check per word.
constexpr int kBufferSize =
    StreamDecoder::kHeadroom + StreamDecoder::kChunkSize + StreamDecoder::kTailRoom;

// sum / n to the nearest integer, halves to even, for averages of 16-bit samples:
// the quotient is within 2^15 and any quotient that is not a half lies at least
// 1/(2n) from one, far beyond the division's rounding, so the double is exact
// where it matters. Adding and taking away 1.5 x 2^52 rounds to even.
int averageOf(std::int64_t sum, double n) {
    constexpr double kRound = 6755399441055744.0;
    const double q = static_cast<double>(sum) / n;
    return static_cast<int>((q + kRound) - kRound);
}

bool markerAt(const std::uint8_t* p) {
    return p[0] == 0xFE && p[1] == 0xFF && p[2] == 0xFE && p[3] == 0xFF;
}
}  // namespace

StreamDecoder::StreamDecoder()
    : idle_buffer_(kHeadroom + kTailRoom, 0),
      carry_buffer_(kCarryMax, 0),
      // Markers are at least one byte apart, so a buffer holds fewer than this many.
      marker_positions_(kBufferSize, 0),
      candidates_(kBufferSize, 0) {
    buffer_ = idle_buffer_.data() + kHeadroom;
}

void StreamDecoder::configure(int gates, int integrations) {
    words_ = 2 * std::clamp(gates, 0, kMaxGates);
    integrations_ = std::max(integrations, 1);
    accumulators_.assign(static_cast<std::size_t>(words_), 0);
    partial_sums_.assign(static_cast<std::size_t>(words_), 0);
    record_values_.assign(static_cast<std::size_t>(words_), 0);
    reset();
}

void StreamDecoder::reset() {
    dropPartial();
    framing_errors_ = 0;
    stream_offset_ = 0;
    buffer_offset_ = 0;
    dwell_first_record_ = records_emitted_;
}

void StreamDecoder::breakStream(std::uint64_t lost_bytes) {
    dropPartial();
    stream_offset_ += static_cast<std::int64_t>(lost_bytes);
}

void StreamDecoder::dropPartial() {
    carry_pos_ = -1;
    carry_length_ = 0;
    frames_summed_ = 0;
    std::fill(accumulators_.begin(), accumulators_.end(), 0);
    std::fill(partial_sums_.begin(), partial_sums_.end(), 0);
}

void StreamDecoder::HandOverChunk(std::uint8_t* data, std::uint32_t count) {
    count = std::min<std::uint32_t>(count, kChunkSize);
    buffer_ = data - carry_length_;
    buffer_offset_ = stream_offset_ - carry_length_;
    handed_carry_ = carry_length_;
    stream_offset_ += count;
    if (carry_length_ > 0)
        std::memcpy(buffer_, carry_buffer_.data(), static_cast<std::size_t>(carry_length_));
    std::memset(data + count, 0, kTailRoom);
    const int n = carry_length_ + static_cast<int>(count);
    stream_length_ = n;

    carry_pos_ = -1;
    carry_length_ = 0;
    const int lowest = std::max(0, n - kCarryMax);
    for (int s = n - 4; s >= lowest; --s) {
        if (markerAt(buffer_ + s)) {
            carry_pos_ = s;
            carry_length_ = n - s;
            std::memcpy(carry_buffer_.data(), buffer_ + s, static_cast<std::size_t>(carry_length_));
            break;
        }
    }
}

// Every position where FE FF FE FF begins, in order, each past its marker.
int StreamDecoder::findMarkers(StreamEvents& events) {
    const std::uint8_t* const buffer = buffer_;
    const int last = stream_length_ - 4;  // the last position a marker can begin at
    int j = 0;
    const auto found = [&](int at) {
        const std::int32_t q = at + 4;
        marker_positions_[static_cast<std::size_t>(j)] = q;
        if (j > 0 && q - marker_positions_[static_cast<std::size_t>(j) - 1] != kFrameSize) {
            if (first_error_marker_ < 0) first_error_marker_ = j;
            ++framing_errors_;
            events.framingError(framing_errors_);
            if (framing_errors_ > kFramingErrorLimit) {
                events.tooManyFramingErrors();
                return false;
            }
        }
        ++j;
        return true;
    };
    // Where the whole marker begins: the kernel finds them many positions at a time.
    const int candidates = FindMarkerStarts(buffer, last, candidates_.data());
    for (int i = 0; i < candidates; ++i)
        if (!found(candidates_[static_cast<std::size_t>(i)])) return -1;
    return j;
}

// The chunk's records stay side by side until it is done: the other takers get
// them in one call.
void StreamDecoder::emitRecord(DataFile* file) {
    int* values = record_values_.data() + static_cast<std::size_t>(batched_) * words_;
    std::int64_t* sums = accumulators_.data();
    std::int32_t* partial = partial_sums_.data();
    const auto n = static_cast<double>(integrations_);
    for (int p = 0; p < words_; ++p) {
        values[p] = averageOf(sums[p] + partial[p], n);
        sums[p] = 0;
        partial[p] = 0;
    }
    if (file) file->appendRecord(values, words_);
    ++batched_;
    frames_summed_ = 0;
    ++records_emitted_;
}

void StreamDecoder::handOverRecords(RecordSink* records, std::int32_t record_period_us) {
    if (records && batched_ > 0)
        records->addRecords(record_values_.data(), words_, batched_, record_period_us);
    batched_ = 0;
}

StreamMark StreamDecoder::markAt(int marker) const {
    const int frames = summed_at_buffer_ + marker;
    return StreamMark{records_at_buffer_ - dwell_first_record_ + frames / integrations_,
                      buffer_offset_ + marker_positions_[static_cast<std::size_t>(marker)] - 4,
                      frames % integrations_};
}

// With one integration every frame is a record, written as it is decoded.
void StreamDecoder::emitFrames(DataFile* file, int frames) {
    for (int k = 0; k < frames; ++k) {
        int* values = record_values_.data() + static_cast<std::size_t>(k) * words_;
        DecodeFrame(buffer_ + marker_positions_[static_cast<std::size_t>(k)], values, words_);
        if (file) file->appendRecord(values, words_);
    }
    batched_ = frames;
    records_emitted_ += frames;
}

void StreamDecoder::ProcessChunk(DataFile* file, RecordSink* records, std::int32_t record_period_us,
                                 StreamEvents& events) {
    records_at_buffer_ = records_emitted_;
    summed_at_buffer_ = frames_summed_;
    first_error_marker_ = -1;
    chunk_start_ = StreamMark{};
    first_error_ = StreamMark{};
    const int markers = findMarkers(events);
    if (markers > 0) {
        int first_own = 0;  // the carry's marker belongs to the chunk before
        while (first_own < markers &&
               marker_positions_[static_cast<std::size_t>(first_own)] - 4 < handed_carry_)
            ++first_own;
        if (first_own < markers) chunk_start_ = markAt(first_own);
        if (first_error_marker_ >= 0) first_error_ = markAt(first_error_marker_);
    }
    if (markers < 2) return;
    const auto room = static_cast<std::size_t>((markers / integrations_ + 2) * words_);
    if (record_values_.size() < room) record_values_.resize(room);
    if (integrations_ == 1) {
        emitFrames(file, markers - 1);
        handOverRecords(records, record_period_us);
        if (file) file->flush();
        return;
    }
    const std::uint8_t* buffer = buffer_;
    std::int32_t* partial = partial_sums_.data();
    // The last marker only closes the frame before it.
    for (int k = 0; k + 1 < markers;) {
        const int take = std::min(markers - 1 - k, integrations_ - frames_summed_);
        SumFrames(buffer, &marker_positions_[static_cast<std::size_t>(k)], take, partial, words_);
        k += take;
        frames_summed_ += take;
        if (frames_summed_ == integrations_) emitRecord(file);
    }
    handOverRecords(records, record_period_us);
    // A record still being summed carries over into the next buffer in 64 bits.
    for (int p = 0; p < words_; ++p) {
        accumulators_[static_cast<std::size_t>(p)] += partial[p];
        partial[p] = 0;
    }
    if (file) file->flush();
}

}  // namespace zarv::acquisition
