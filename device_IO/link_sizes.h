#pragma once

#include <cstdint>

namespace zarv::device_io {

// The link's receive buffer, the largest reply and the stream's read size alike.
constexpr std::uint32_t kLinkBufferBytes = 131072;
// Every command frame on the wire.
constexpr std::uint32_t kLinkFrameBytes = 50;

}  // namespace zarv::device_io
