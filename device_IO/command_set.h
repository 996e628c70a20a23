#pragma once

#include <cstdint>
#include <iterator>

#include "flash_sectors.h"
#include "link_sizes.h"

namespace zarv::device_io {

// The controller's command codes, as byte 1 of a frame carries them.
enum class CommandCode : std::uint8_t {
    ReadControllerInfo = 0x00,
    SetSweepParameters = 0x02,
    Trigger = 0x03,
    SetFrequencies = 0x04,
    SetAmplitudes = 0x06,
    SetBeamDirection = 0x07,
    SetDacLevels = 0x08,
    EraseSector = 0x0F,
    ProgramSectorBlock = 0x10,
    ReadSector = 0x11,
    CopyImageToMainFrame = 0x12,
    WriteCodeStart = 0x13,
    ReadCodeStart = 0x14,
};

// One-byte replies that are not data.
enum class ReplyCode : std::uint8_t {
    Ack = 0x55,
    ChecksumError = 0xAA,
    UnexpectedData = 0xAB,
};

constexpr std::uint8_t operator+(CommandCode code) {
    return static_cast<std::uint8_t>(code);
}
constexpr std::uint8_t operator+(ReplyCode code) {
    return static_cast<std::uint8_t>(code);
}

// A command: its code, frame length L (0 when it follows the payload), reply
// length, and whether it needs the long read time-out.
struct CommandSpec {
    CommandCode code;
    int length;
    int reply;
    bool long_timeout;
};

namespace commands {
constexpr CommandSpec kReadControllerInfo{CommandCode::ReadControllerInfo, 1, 200, false};
constexpr CommandSpec kSetSweepParameters{CommandCode::SetSweepParameters, 26, 1, false};
constexpr CommandSpec kTrigger{CommandCode::Trigger, 2, 0, false};
constexpr CommandSpec kSetFrequencies{CommandCode::SetFrequencies, 17, 1, false};
constexpr CommandSpec kSetAmplitudes{CommandCode::SetAmplitudes, 9, 1, false};
constexpr CommandSpec kSetBeamDirection{CommandCode::SetBeamDirection, 2, 1, false};
constexpr CommandSpec kSetDacLevels{CommandCode::SetDacLevels, 5, 1, false};
constexpr CommandSpec kEraseSector{CommandCode::EraseSector, 2, 2, true};
constexpr CommandSpec kProgramSectorBlock{CommandCode::ProgramSectorBlock, 0, 2, true};
constexpr CommandSpec kReadSector{CommandCode::ReadSector, 2, 2 * kFlashSectorWords, false};
constexpr CommandSpec kCopyImageToMainFrame{CommandCode::CopyImageToMainFrame, 1, 1, true};
constexpr CommandSpec kWriteCodeStart{CommandCode::WriteCodeStart, 1 + 2 * kCodeStartWords, 1,
                                      false};
constexpr CommandSpec kReadCodeStart{CommandCode::ReadCodeStart, 1, 2 * kCodeStartReadWords, false};

constexpr CommandSpec kAll[] = {
    kReadControllerInfo,   kSetSweepParameters, kTrigger,       kSetFrequencies,     kSetAmplitudes,
    kSetBeamDirection,     kSetDacLevels,       kEraseSector,   kProgramSectorBlock, kReadSector,
    kCopyImageToMainFrame, kWriteCodeStart,     kReadCodeStart,
};
// The program command carries 1 to 16 words after sector and offset.
constexpr int kMaxBlockWords = 16;
}  // namespace commands

// Every reply fits the link's receive buffer.
static_assert(commands::kReadSector.reply <= kLinkBufferBytes);
static_assert(commands::kReadControllerInfo.reply == 4 * 50);

// The command with this code, or nullptr.
constexpr const CommandSpec* FindCommand(std::uint8_t code) {
    for (const CommandSpec& spec : commands::kAll)
        if (+spec.code == code) return &spec;
    return nullptr;
}

// Whether a frame of length L fits the command's format.
constexpr bool FrameLengthFits(const CommandSpec& spec, int length) {
    if (spec.length > 0) return length == spec.length;
    return length >= 4 && length <= 2 + 2 * (commands::kMaxBlockWords + 1) && length % 2 == 0;
}

}  // namespace zarv::device_io
