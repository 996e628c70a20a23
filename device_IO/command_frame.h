#pragma once

#include <array>
#include <cstdint>

namespace zarv::device_io {

class UsbLink;
class MessageBoxes;

// A command as it is built, before it travels:
//   byte 0       L, the number of bytes after it: the code and the payload
//   byte 1       command code
//   bytes 2..L   payload, multi-byte fields most significant byte first
// On the wire the checksum (XOR of bytes 0..L) follows at L+1, and the frame is
// filled up to 50 bytes with whatever the transmit buffer held there.
struct TCommandFrame {
    static constexpr int kMaxLength = 48;

    std::array<std::uint8_t, 50> bytes{};
    int size = 0;  // bytes placed so far

    TCommandFrame(std::uint8_t code, int length) {
        bytes[0] = static_cast<std::uint8_t>(length);
        bytes[1] = code;
        size = 2;
    }
    void put_u8(std::uint32_t v) { bytes[size++] = static_cast<std::uint8_t>(v); }
    void put_u16_be(std::uint32_t v) {
        put_u8(v >> 8);
        put_u8(v);
    }
    void put_u32_be(std::uint32_t v) {
        put_u16_be(v >> 16);
        put_u16_be(v);
    }
    std::uint8_t length() const { return bytes[0]; }
};

// XOR of bytes 0..L of a frame whose length byte is L.
std::uint8_t FrameChecksum(const std::uint8_t* frame);

// Copies the frame and its checksum into tx_buffer, leaving the filler as it was.
void PlaceFrame(const TCommandFrame& frame, std::array<std::uint8_t, 50>& tx_buffer);

// One transaction: purge both directions, write 50 bytes, read the expected reply,
// and show the boxes for short writes, short replies and reply codes. Returns the
// number of reply bytes, which lie at the start of rx_buffer.
// *written_whole, when asked for, tells whether the whole frame left.
int SendCommand(UsbLink& link, MessageBoxes& op, const TCommandFrame& frame, int expected,
                bool* written_whole = nullptr);

}  // namespace zarv::device_io
