#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "command_set.h"

namespace zarv::device_io {

class UsbLink;
class MessageBoxes;
struct TCommandFrame;

// The values of SetSweepParameters in the order the frame carries them.
struct SweepParameters {
    std::uint32_t pulse_period = 0;
    std::uint16_t pulse_length = 0;
    std::uint32_t sample_start = 0;
    std::uint16_t resolution = 0;
    std::uint8_t gates = 0;
    std::uint16_t test_gate_delay = 0;
    std::uint16_t test_gate_length = 0;
    std::uint16_t lo_gate_length = 0;
    std::uint8_t tx_enable = 0;
    std::uint16_t dac_word0 = 0;
    std::uint16_t dac_word1 = 0;
    std::uint8_t audio_enable = 0;
};

using InfoWords = std::array<std::uint32_t, 50>;
using SectorWords = std::vector<std::uint16_t>;  // kFlashSectorWords entries
using CodeStartWords = std::array<std::uint32_t, kCodeStartReadWords>;
using CodeStartBlock = std::array<std::uint32_t, kCodeStartWords>;
using BlockWords = std::array<std::uint16_t, commands::kMaxBlockWords>;

// One operation per controller command. Commands with a reply return the number
// of reply bytes received; the readers return whether the reply had its full
// length and leave the caller's array untouched when it had not.
class ControllerCommands {
  public:
    ControllerCommands(UsbLink& link, MessageBoxes& op) : link_(link), op_(&op) {}
    // Sends the command layer's boxes to another taker (a flow that gathers them
    // into one message of its own); returns the one they went to before.
    MessageBoxes& redirectBoxes(MessageBoxes& to) { return *std::exchange(op_, &to); }
    // How to open the link again when a call found the device gone.
    void setReopen(std::function<bool()> reopen) { reopen_ = std::move(reopen); }

    [[nodiscard]] bool ReadControllerInfo(InfoWords& words);
    int SetSweepParameters(const SweepParameters& values);
    bool StartTrigger();
    bool StopTrigger();
    int SetFrequencies(std::uint32_t ch0, std::uint32_t ch1, std::uint32_t ch2, std::uint32_t ch3);
    int SetAmplitudes(std::uint16_t ch0, std::uint16_t ch1, std::uint16_t ch2, std::uint16_t ch3);
    int SetBeamDirection(std::uint8_t beam);
    int SetDacLevels(std::uint16_t ch0, std::uint16_t ch1);
    int EraseSector(const QString& sector);
    int ProgramSectorBlock(const BlockWords& words, int count, const QString& sector, int offset);
    [[nodiscard]] bool ReadSector(const QString& sector, SectorWords& words);
    int CopyImageToMainFrame();
    // Whether the last command's frame left whole.
    bool frameWritten() const { return frame_written_; }
    int WriteCodeStart(const CodeStartBlock& values);
    [[nodiscard]] bool ReadCodeStart(CodeStartWords& words);

    // Flash sector code of a letter A..H, or -1.
    static int SectorCode(const QString& sector);
    // Flash status in byte 1 of the last command's reply when that was a whole
    // erase or program reply; nothing otherwise.
    std::optional<int> flashStatus() const { return flash_status_; }
    QString flashStatusText(int status) const;

  private:
    bool sendTrigger(std::uint8_t on);
    void reopenIfLost();
    int transact(const CommandSpec& spec, const TCommandFrame& frame);
    int flashTransact(const CommandSpec& spec, const TCommandFrame& frame);

    UsbLink& link_;
    MessageBoxes* op_;
    bool frame_written_ = false;
    std::optional<int> flash_status_;
    std::function<bool()> reopen_;
};

}  // namespace zarv::device_io
