#pragma once

#include <cstdint>

namespace zarv::acquisition {

// The vector kernels of the stream decoding, each built for AVX2 and for the
// processor's baseline, the better one picked when the program starts. Samples
// are little-endian 16-bit words whose bit 11 sets bits 12 to 15.

// Writes, in order, every position from 0 to last where FE FF FE FF begins;
// returns how many. Bytes up to last + 3 + 63 are read: the buffer has room.
int FindMarkerStarts(const std::uint8_t* buffer, int last, std::int32_t* starts);

// Adds the words of count frames, each starting at buffer + starts[i], to sums.
// The sums of one buffer fit 32 bits: fewer than 32895 frames, each word within
// 2^15.
void SumFrames(const std::uint8_t* buffer, const std::int32_t* starts, int count,
               std::int32_t* sums, int words);

// One frame's words, decoded.
void DecodeFrame(const std::uint8_t* frame, int* values, int words);

}  // namespace zarv::acquisition
