#include "stream_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data_file.h"
#include "record_sink.h"

namespace zarv::acquisition {

namespace {
// Room for the carry, a whole chunk and one frame of zeros behind it, so that a
// frame starting near the end can be read without a bounds check per word.
constexpr int kBufferSize =
    StreamDecoder::kHeadroom + StreamDecoder::kChunkSize + StreamDecoder::kTailRoom;

// Adds the words of count frames, each starting at buffer + starts[i], to sums.
// Kept free of branches so that the compiler can do many words at a time, and
// built once more for AVX2, which the processor picks when it has it. The sums
// of one buffer fit 32 bits: at most 32894 markers, each word within 2^15.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void sumFrames(const std::uint8_t* buffer, const std::int32_t* starts, int count,
               std::int32_t* sums, int words) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* frame = buffer + starts[i];
        for (int p = 0; p < words; ++p) {
            std::uint16_t w;  // little-endian on the wire
            std::memcpy(&w, frame + 2 * p, 2);
            if constexpr (std::endian::native == std::endian::big)
                w = static_cast<std::uint16_t>((w >> 8) | (w << 8));
            sums[p] += StreamDecoder::DecodeWord(w);
        }
    }
}

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
    : stream_buffer_(kBufferSize, 0),
      carry_buffer_(kCarryMax, 0),
      // Markers are at least one byte apart, so a buffer holds fewer than this many.
      marker_positions_(kBufferSize, 0) {
    buffer_ = stream_buffer_.data() + kHeadroom;
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

void StreamDecoder::HandOverChunk(const std::uint8_t* data, std::uint32_t count) {
    count = std::min<std::uint32_t>(count, kChunkSize);
    std::uint8_t* in_buffer = stream_buffer_.data() + kHeadroom;
    if (count > 0) std::memcpy(in_buffer, data, count);
    HandOverInPlace(in_buffer, count);
}

void StreamDecoder::HandOverInPlace(std::uint8_t* data, std::uint32_t count) {
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
        if (!markerAt(buffer + at)) return true;
        const std::int32_t q = at + 4;
        marker_positions_[static_cast<std::size_t>(j)] = q;
        if (j > 0 && q - marker_positions_[static_cast<std::size_t>(j) - 1] != kFrameSize) {
            if (first_error_marker_ < 0) first_error_marker_ = j;
            ++framing_errors;
            events.framingError(framing_errors);
            if (framing_errors > kFramingErrorLimit) {
                events.tooManyFramingErrors();
                return false;
            }
        }
        ++j;
        return true;
    };
    int at = 0;
#if defined(__SSE2__)
    // 64 bytes at a time: a mask of their FE bytes, most often empty.
    const __m128i fe = _mm_set1_epi8(static_cast<char>(0xFE));
    for (; at + 64 <= last + 1; at += 64) {
        const auto block = [&](int offset) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at + offset));
            return static_cast<std::uint64_t>(
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, fe))));
        };
        std::uint64_t mask = block(0) | block(16) << 16 | block(32) << 32 | block(48) << 48;
        while (mask != 0) {
            if (!found(at + __builtin_ctzll(mask))) return -1;
            mask &= mask - 1;
        }
    }
#endif
    for (; at <= last; ++at) {
        if (buffer[at] == 0xFE && !found(at)) return -1;
    }
    return j;
}

int StreamDecoder::AverageHalfEven(std::int64_t sum, std::int32_t n) {
    std::int64_t q = sum / n;
    const std::int64_t r = sum % n;
    const std::int64_t twice = 2 * (r < 0 ? -r : r);
    if (twice > n || (twice == n && (q & 1) != 0)) q += sum < 0 ? -1 : 1;
    return static_cast<int>(q);
}

void StreamDecoder::emitRecord(DataFile* file, RecordSink* records, std::int32_t record_period_us) {
    int* values = record_values_.data();
    std::int64_t* sums = accumulators_.data();
    std::int32_t* partial = partial_sums_.data();
    const auto n = static_cast<double>(integrations_);
    for (int p = 0; p < words_; ++p) {
        values[p] = averageOf(sums[p] + partial[p], n);
        sums[p] = 0;
        partial[p] = 0;
    }
    if (file) file->appendRecord(values, words_);
    if (records) records->addRecord(values, words_, record_period_us);
    frames_summed_ = 0;
    ++records_emitted_;
}

StreamMark StreamDecoder::markAt(int marker) const {
    const int frames = summed_at_buffer_ + marker;
    return StreamMark{records_at_buffer_ - dwell_first_record_ + frames / integrations_,
                      buffer_offset_ + marker_positions_[static_cast<std::size_t>(marker)] - 4,
                      frames % integrations_};
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
    const std::uint8_t* buffer = buffer_;
    std::int32_t* partial = partial_sums_.data();
    // The last marker only closes the frame before it.
    for (int k = 0; k + 1 < markers;) {
        const int take = std::min(markers - 1 - k, integrations_ - frames_summed_);
        sumFrames(buffer, &marker_positions_[static_cast<std::size_t>(k)], take, partial, words_);
        k += take;
        frames_summed_ += take;
        if (frames_summed_ == integrations_) emitRecord(file, records, record_period_us);
    }
    // A record still being summed carries over into the next buffer in 64 bits.
    for (int p = 0; p < words_; ++p) {
        accumulators_[static_cast<std::size_t>(p)] += partial[p];
        partial[p] = 0;
    }
    if (file) file->flush();
}

}  // namespace zarv::acquisition
