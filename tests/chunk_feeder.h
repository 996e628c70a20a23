#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "acquisition/stream_decoder.h"

// Hands bytes to a decoder as the reader does: copied into a chunk with the room
// the decoder needs before it (the carry) and after it (zeros). A chunk stays
// where it is until the next one is handed over.
class ChunkFeeder {
  public:
    using StreamDecoder = zarv::acquisition::StreamDecoder;

    void handOver(StreamDecoder& decoder, const std::uint8_t* data, std::uint32_t count) {
        count = std::min<std::uint32_t>(count, StreamDecoder::kChunkSize);
        chunk_.assign(StreamDecoder::kHeadroom + count + StreamDecoder::kTailRoom, 0);
        std::copy(data, data + count, chunk_.begin() + StreamDecoder::kHeadroom);
        decoder.HandOverChunk(chunk_.data() + StreamDecoder::kHeadroom, count);
    }

  private:
    std::vector<std::uint8_t> chunk_;
};
