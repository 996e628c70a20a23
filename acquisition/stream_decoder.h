#pragma once

#include <cstdint>
#include <vector>

#include "device_IO/link_sizes.h"

namespace zarv::acquisition {

using device_io::kLinkBufferBytes;

class DataFile;
class RecordSink;

// A place in the stream: the record a frame is summed into, the frame's stream
// offset (bytes since the trigger started, lost bytes included) and how many
// frames of that record come before it.
struct StreamMark {
    std::int64_t record = -1;
    std::int64_t byte = 0;
    int frames_into = 0;
    bool valid() const { return record >= 0; }
};

// What the stream processing reports as it goes.
class StreamEvents {
  public:
    virtual ~StreamEvents() = default;
    virtual void framingError(int count) = 0;  // after every framing error
    virtual void tooManyFramingErrors() = 0;   // at the 101st of a dwell
};

// Joins the chunks the reader hands over into frames, checks the marker spacing,
// sums integrations frames per word and writes each set of averages as a record.
//
// Stream frame, 148 bytes from marker to marker:
//   0..3    marker FE FF FE FF
//   4+4(g-1)  ip sample of gate g, low byte first (12-bit two's complement)
//   6+4(g-1)  qp sample of gate g
class StreamDecoder {
  public:
    static constexpr int kChunkSize = static_cast<int>(kLinkBufferBytes);
    static constexpr int kCarryMax = 504;
    static constexpr int kFrameSize = 148;
    static constexpr int kFramingErrorLimit = 100;
    static constexpr int kMaxGates = 36;
    // A buffer handed over in place has this much room before it for the carry
    // and after it for zeros, so that a frame that starts near the end can be read
    // without a bounds check per word.
    static constexpr int kHeadroom = kCarryMax;
    static constexpr int kTailRoom = 2 * kFrameSize;

    StreamDecoder();

    // Sizes the sums for a run; gates are clamped to what a frame holds.
    void configure(int gates, int integrations);
    // A new dwell: no carry, no frames summed, every sum 0, no framing errors.
    void reset();
    // lost bytes of the stream went missing before the next chunk: the frame cut
    // at the end of the last one and the record being summed are dropped.
    void breakStream(std::uint64_t lost_bytes);

    // Stream buffer := carry + the count bytes read, decoded where the chunk lies,
    // the carry written into the headroom before it (see kHeadroom); the new
    // carry is the tail from the last marker within 504 bytes of the end.
    void HandOverChunk(std::uint8_t* data, std::uint32_t count);
    void ProcessChunk(DataFile* file, RecordSink* records, std::int32_t record_period_us,
                      StreamEvents& events);

    // Framing errors since the dwell began.
    int framing_errors() const { return framing_errors_; }
    std::int64_t recordsEmitted() const { return records_emitted_; }
    // Stream bytes handed over since the dwell began, lost ones included.
    std::int64_t streamOffset() const { return stream_offset_; }
    // After ProcessChunk: the first frame that starts in the chunk's own bytes,
    // and the first frame after the first framing error of the buffer (invalid
    // when there is none).
    const StreamMark& chunkStart() const { return chunk_start_; }
    const StreamMark& firstFramingError() const { return first_error_; }
    int carry_pos() const { return carry_pos_; }
    int frames_summed() const { return frames_summed_; }
    const std::uint8_t* streamBuffer() const { return buffer_; }

    static int DecodeSample(std::uint8_t low, std::uint8_t high) {
        return DecodeWord(static_cast<std::uint16_t>((unsigned{high} << 8) | low));
    }
    static int DecodeWord(std::uint16_t w) {
        // Bit 11 set: bits 12 to 15 become 1; clear: the word is taken as it is.
        const unsigned extended = w | ((0u - ((w >> 11) & 1u)) & 0xF000u);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(extended));
    }

  private:
    void dropPartial();
    int findMarkers(StreamEvents& events);
    StreamMark markAt(int marker) const;
    void emitRecord(DataFile* file);
    void emitFrames(DataFile* file, int frames);
    void handOverRecords(RecordSink* records, std::int32_t record_period_us);

    int framing_errors_ = 0;
    std::vector<std::uint8_t> idle_buffer_;  // where buffer_ points before the first chunk
    std::uint8_t* buffer_ = nullptr;         // carry and chunk, wherever they lie
    std::vector<std::uint8_t> carry_buffer_;
    std::vector<std::int32_t> marker_positions_;
    std::vector<std::int32_t> candidates_;    // every place a marker begins
    std::vector<std::int64_t> accumulators_;  // sums of earlier buffers
    std::vector<std::int32_t> partial_sums_;  // sums within the current buffer
    std::vector<int> record_values_;          // the chunk's records so far, side by side
    int batched_ = 0;
    int carry_pos_ = -1;
    int carry_length_ = 0;
    int stream_length_ = 0;
    int words_ = 0;
    int integrations_ = 1;
    int frames_summed_ = 0;
    std::int64_t records_emitted_ = 0;
    std::int64_t stream_offset_ = 0;
    std::int64_t buffer_offset_ = 0;  // stream offset of buffer_[0]
    int handed_carry_ = 0;            // carry bytes in front of the current chunk
    std::int64_t records_at_buffer_ = 0;
    std::int64_t dwell_first_record_ = 0;  // marks count records from the dwell's first
    int summed_at_buffer_ = 0;
    int first_error_marker_ = -1;
    StreamMark chunk_start_;
    StreamMark first_error_;
};

}  // namespace zarv::acquisition
