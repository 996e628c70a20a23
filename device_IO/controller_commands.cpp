#include "controller_commands.h"

#include "command_frame.h"
#include "command_set.h"
#include "message_boxes.h"
#include "usb_link.h"

namespace zarv::device_io {

namespace {
using namespace commands;

constexpr std::uint32_t kStandingTimeoutMs = 500;
constexpr std::uint32_t kFlashReadTimeoutMs = 3000;

// Restores the standing time-outs however the transaction ends.
class LongTimeout {
  public:
    explicit LongTimeout(UsbLink& link) : link_(link) {
        link_.SetFTDeviceTimeouts(kFlashReadTimeoutMs, kStandingTimeoutMs);
    }
    ~LongTimeout() { link_.SetFTDeviceTimeouts(kStandingTimeoutMs, kStandingTimeoutMs); }
    LongTimeout(const LongTimeout&) = delete;
    LongTimeout& operator=(const LongTimeout&) = delete;

  private:
    UsbLink& link_;
};

std::uint32_t beWord32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}
std::uint16_t beWord16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
}  // namespace

// A link that a call found gone is opened again, once, before the next command.
void ControllerCommands::reopenIfLost() {
    if (reopen_ && link_.TakeReopenTurn()) reopen_();
}

int ControllerCommands::transact(const CommandSpec& spec, const TCommandFrame& frame) {
    reopenIfLost();
    flash_status_.reset();
    if (!spec.long_timeout) return SendCommand(link_, *op_, frame, spec.reply, &frame_written_);
    LongTimeout bracket(link_);
    return SendCommand(link_, *op_, frame, spec.reply, &frame_written_);
}

int ControllerCommands::flashTransact(const CommandSpec& spec, const TCommandFrame& frame) {
    const int received = transact(spec, frame);
    if (received == spec.reply) flash_status_ = link_.rx_buffer[1];
    return received;
}

bool ControllerCommands::ReadControllerInfo(InfoWords& words) {
    TCommandFrame frame(+kReadControllerInfo.code, kReadControllerInfo.length);
    const int received = transact(kReadControllerInfo, frame);
    if (received != kReadControllerInfo.reply) {
        op_->showMessage(QStringLiteral("Unexpected data length"));
        return false;
    }
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = beWord32(&link_.rx_buffer[4 * i]);
    return true;
}

int ControllerCommands::SetSweepParameters(const SweepParameters& v) {
    TCommandFrame frame(+kSetSweepParameters.code, kSetSweepParameters.length);
    frame.put_u32_be(v.pulse_period);
    frame.put_u16_be(v.pulse_length);
    frame.put_u32_be(v.sample_start);
    frame.put_u16_be(v.resolution);
    frame.put_u8(v.gates);
    frame.put_u16_be(v.test_gate_delay);
    frame.put_u16_be(v.test_gate_length);
    frame.put_u16_be(v.lo_gate_length);
    frame.put_u8(v.tx_enable);
    frame.put_u16_be(v.dac_word0);
    frame.put_u16_be(v.dac_word1);
    frame.put_u8(v.audio_enable);
    return transact(kSetSweepParameters, frame);
}

bool ControllerCommands::sendTrigger(std::uint8_t on) {
    reopenIfLost();
    link_.PurgeFTDeviceTx();
    link_.PurgeFTDeviceRx();
    TCommandFrame frame(+kTrigger.code, kTrigger.length);
    frame.put_u8(on);
    PlaceFrame(frame, link_.tx_buffer);
    return link_.WriteFTDevice(kLinkFrameBytes) == kLinkFrameBytes;
}

bool ControllerCommands::StartTrigger() {
    return sendTrigger(1);
}
bool ControllerCommands::StopTrigger() {
    return sendTrigger(0);
}

int ControllerCommands::SetFrequencies(std::uint32_t ch0, std::uint32_t ch1, std::uint32_t ch2,
                                       std::uint32_t ch3) {
    TCommandFrame frame(+kSetFrequencies.code, kSetFrequencies.length);
    for (std::uint32_t word : {ch0, ch1, ch2, ch3}) frame.put_u32_be(word);
    return transact(kSetFrequencies, frame);
}

int ControllerCommands::SetAmplitudes(std::uint16_t ch0, std::uint16_t ch1, std::uint16_t ch2,
                                      std::uint16_t ch3) {
    TCommandFrame frame(+kSetAmplitudes.code, kSetAmplitudes.length);
    for (std::uint16_t word : {ch0, ch1, ch2, ch3}) frame.put_u16_be(word);
    return transact(kSetAmplitudes, frame);
}

int ControllerCommands::SetBeamDirection(std::uint8_t beam) {
    TCommandFrame frame(+kSetBeamDirection.code, kSetBeamDirection.length);
    frame.put_u8(beam);
    return transact(kSetBeamDirection, frame);
}

int ControllerCommands::SetDacLevels(std::uint16_t ch0, std::uint16_t ch1) {
    TCommandFrame frame(+kSetDacLevels.code, kSetDacLevels.length);
    frame.put_u16_be(ch0);
    frame.put_u16_be(ch1);
    return transact(kSetDacLevels, frame);
}

int ControllerCommands::SectorCode(const QString& sector) {
    const FlashSector* found = SectorByLetter(sector);
    return found ? found->code : -1;
}

QString ControllerCommands::flashStatusText(int status) const {
    return link_.flash_status_text.text(status);
}

int ControllerCommands::EraseSector(const QString& sector) {
    const int code = SectorCode(sector);
    if (code < 0) return 0;
    TCommandFrame frame(+kEraseSector.code, kEraseSector.length);
    frame.put_u8(static_cast<std::uint32_t>(code));
    return flashTransact(kEraseSector, frame);
}

int ControllerCommands::ProgramSectorBlock(const BlockWords& words, int count,
                                           const QString& sector, int offset) {
    const int code = SectorCode(sector);
    if (code < 0) return 0;
    count = std::clamp(count, 0, kMaxBlockWords);
    TCommandFrame frame(+kProgramSectorBlock.code, 2 * count + 4);
    frame.put_u8(static_cast<std::uint32_t>(code));
    frame.put_u8(static_cast<std::uint32_t>(offset) / 256);
    frame.put_u8(static_cast<std::uint32_t>(offset) % 256);
    for (int i = 0; i < count; ++i) frame.put_u16_be(words[static_cast<std::size_t>(i)]);
    return flashTransact(kProgramSectorBlock, frame);
}

bool ControllerCommands::ReadSector(const QString& sector, SectorWords& words) {
    const int code = SectorCode(sector);
    if (code < 0) return false;
    TCommandFrame frame(+kReadSector.code, kReadSector.length);
    frame.put_u8(static_cast<std::uint32_t>(code));
    const int received = transact(kReadSector, frame);
    if (received != kReadSector.reply) {
        op_->showMessage(
            QStringLiteral(
                "Data received do not match with what is expected. Received:%1 ; Expected:%2")
                .arg(received)
                .arg(kReadSector.reply));
        return false;
    }
    words.resize(kFlashSectorWords);
    for (int i = 0; i < kFlashSectorWords; ++i) words[i] = beWord16(&link_.rx_buffer[2 * i]);
    return true;
}

int ControllerCommands::CopyImageToMainFrame() {
    TCommandFrame frame(+kCopyImageToMainFrame.code, kCopyImageToMainFrame.length);
    return transact(kCopyImageToMainFrame, frame);
}

int ControllerCommands::WriteCodeStart(const CodeStartBlock& values) {
    TCommandFrame frame(+kWriteCodeStart.code, kWriteCodeStart.length);
    for (std::uint32_t v : values) frame.put_u16_be(v & 0xFFFF);
    return transact(kWriteCodeStart, frame);
}

bool ControllerCommands::ReadCodeStart(CodeStartWords& words) {
    TCommandFrame frame(+kReadCodeStart.code, kReadCodeStart.length);
    const int received = transact(kReadCodeStart, frame);
    if (received != kReadCodeStart.reply) {
        op_->showMessage(QStringLiteral("Unexpected data length"));
        return false;
    }
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = beWord16(&link_.rx_buffer[2 * i]);
    return true;
}

}  // namespace zarv::device_io
