#include "command_frame.h"

#include <algorithm>

#include "command_set.h"
#include "message_boxes.h"
#include "usb_link.h"

namespace zarv::device_io {

std::uint8_t FrameChecksum(const std::uint8_t* frame) {
    const int length = std::min<int>(frame[0], TCommandFrame::kMaxLength);
    std::uint8_t sum = 0;
    for (int i = 0; i <= length; ++i) sum ^= frame[i];
    return sum;
}

void PlaceFrame(const TCommandFrame& frame, std::array<std::uint8_t, 50>& tx_buffer) {
    const int length = std::min<int>(frame.length(), TCommandFrame::kMaxLength);
    tx_buffer[0] = static_cast<std::uint8_t>(length);
    for (int i = 1; i <= length; ++i) tx_buffer[i] = frame.bytes[i];
    tx_buffer[length + 1] = FrameChecksum(tx_buffer.data());
}

int SendCommand(UsbLink& link, MessageBoxes& op, const TCommandFrame& frame, int expected,
                bool* written_whole) {
    expected = std::clamp<int>(expected, 1, kLinkBufferBytes);
    link.PurgeFTDeviceTx();
    link.PurgeFTDeviceRx();
    PlaceFrame(frame, link.tx_buffer);
    const bool whole = link.WriteFTDevice(kLinkFrameBytes) >= kLinkFrameBytes;
    if (written_whole) *written_whole = whole;
    if (!whole) op.showMessage(QStringLiteral("USB Device Write TimeOut."));
    const int received = static_cast<int>(link.ReadFTDevice(static_cast<std::uint32_t>(expected)));
    if (received != expected)
        op.showMessage(QStringLiteral("Received data do not match with what is expected"));
    if (received == 0) op.showMessage(QStringLiteral("Did not return any data!"));
    if (received == 1) {
        if (link.rx_buffer[0] == +ReplyCode::ChecksumError)
            op.showMessage(QStringLiteral("CHECKSUM error!"));
        else if (link.rx_buffer[0] == +ReplyCode::UnexpectedData)
            op.showMessage(QStringLiteral("UNEXPECTED_DATA error!"));
    }
    return received;
}

}  // namespace zarv::device_io
