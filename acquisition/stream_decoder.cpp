#include "stream_decoder.h"

#include <algorithm>
#include <cstring>

#include "data_file.h"
#include "views/graph_capture.h"

namespace {
// Room for the carry, a whole chunk and one frame of zeros behind it, so that a
// frame starting near the end can be read without a bounds check per word.
constexpr int kBufferSize =
    StreamDecoder::kCarryMax + StreamDecoder::kChunkSize + 2 * StreamDecoder::kFrameSize;

// Kept free of branches so that the compiler can do many words at a time. The
// sums of one buffer fit 32 bits: at most 32894 markers, each word within 2^15.
void addFrame(const std::uint8_t* frame, std::int32_t* sums, int words) {
    for (int p = 0; p < words; ++p)
        sums[p] += StreamDecoder::DecodeSample(frame[2 * p], frame[2 * p + 1]);
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
      marker_positions_(kBufferSize, 0) {}

void StreamDecoder::configure(int gates, int integrations) {
    words_ = 2 * std::clamp(gates, 0, kMaxGates);
    integrations_ = std::max(integrations, 1);
    accumulators_.assign(static_cast<std::size_t>(words_), 0);
    partial_sums_.assign(static_cast<std::size_t>(words_), 0);
    record_values_.assign(static_cast<std::size_t>(words_), 0);
    reset();
}

void StreamDecoder::reset() {
    carry_pos_ = -1;
    carry_length_ = 0;
    frames_summed_ = 0;
    std::fill(accumulators_.begin(), accumulators_.end(), 0);
    std::fill(partial_sums_.begin(), partial_sums_.end(), 0);
}

void StreamDecoder::HandOverChunk(const std::uint8_t* data, std::uint32_t count) {
    count = std::min<std::uint32_t>(count, kChunkSize);
    int n = 0;
    if (carry_pos_ != -1) {
        std::memcpy(stream_buffer_.data(), carry_buffer_.data(),
                    static_cast<std::size_t>(carry_length_));
        n = carry_length_;
    }
    if (count > 0) std::memcpy(stream_buffer_.data() + n, data, count);
    n += static_cast<int>(count);
    std::memset(stream_buffer_.data() + n, 0, static_cast<std::size_t>(kBufferSize - n));
    stream_length_ = n;

    carry_pos_ = -1;
    carry_length_ = 0;
    const int lowest = std::max(0, n - kCarryMax);
    for (int s = n - 4; s >= lowest; --s) {
        if (markerAt(&stream_buffer_[static_cast<std::size_t>(s)])) {
            carry_pos_ = s;
            carry_length_ = n - s;
            std::memcpy(carry_buffer_.data(), stream_buffer_.data() + s,
                        static_cast<std::size_t>(carry_length_));
            break;
        }
    }
}

int StreamDecoder::findMarkers(StreamEvents& events) {
    const std::uint8_t* buffer = stream_buffer_.data();
    const std::uint8_t* end = buffer + stream_length_;
    const std::uint8_t* p = buffer;
    int j = 0;
    while (end - p >= 4) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, 0xFE, static_cast<std::size_t>(end - p - 3)));
        if (!p) break;
        if (p[1] == 0xFF && p[2] == 0xFE && p[3] == 0xFF) {
            const auto q = static_cast<std::int32_t>(p - buffer) + 4;
            marker_positions_[static_cast<std::size_t>(j)] = q;
            if (j > 0 && q - marker_positions_[static_cast<std::size_t>(j) - 1] != kFrameSize) {
                ++framing_errors;
                events.framingError(framing_errors);
                if (framing_errors > kFramingErrorLimit) {
                    events.tooManyFramingErrors();
                    return -1;
                }
            }
            ++j;
        }
        ++p;
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

void StreamDecoder::emitRecord(DataFile* file, GraphCapture* graph, std::int32_t record_period_us) {
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
    if (graph) graph->AddGraphRecord(values, words_, record_period_us);
    frames_summed_ = 0;
    ++records_emitted_;
}

void StreamDecoder::ProcessChunk(DataFile* file, GraphCapture* graph, std::int32_t record_period_us,
                                 StreamEvents& events) {
    const int markers = findMarkers(events);
    if (markers < 2) return;
    const std::uint8_t* buffer = stream_buffer_.data();
    std::int32_t* partial = partial_sums_.data();
    for (int k = 0; k + 1 < markers; ++k) {
        const std::uint8_t* frame = buffer + marker_positions_[static_cast<std::size_t>(k)];
        addFrame(frame, partial, words_);
        if (++frames_summed_ == integrations_) emitRecord(file, graph, record_period_us);
    }
    // A record still being summed carries over into the next buffer in 64 bits.
    for (int p = 0; p < words_; ++p) {
        accumulators_[static_cast<std::size_t>(p)] += partial[p];
        partial[p] = 0;
    }
    if (file) file->flush();
}
