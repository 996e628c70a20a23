#pragma once

#include <QString>
#include <cstdint>

namespace zarv::device_io {

// The controller's flash in 16-bit words: eight sectors of 8192 words, A highest.
struct FlashSector {
    char letter;
    std::uint32_t first_address;
    int code;
    const char* file_name;
};

constexpr int kFlashSectorWords = 8192;
constexpr std::uint32_t kFlashBottom = 0x003E8000;  // first word of sector H
constexpr std::uint32_t kFlashTop = 0x003F7FFF;     // last word of sector A
// The code start: ten words at the top of sector A. ReadCodeStart returns the
// last 128 words of the flash, the code start at their end.
constexpr std::uint32_t kCodeStartAddress = 0x003F7FF6;
constexpr int kCodeStartWords = 10;
constexpr int kCodeStartReadWords = 128;
constexpr std::uint32_t kCodeStartReadFirst = kFlashTop + 1 - kCodeStartReadWords;
constexpr int kCodeStartInRead = static_cast<int>(kCodeStartAddress - kCodeStartReadFirst);
static_assert(kCodeStartAddress + kCodeStartWords == kFlashTop + 1);
static_assert(kFlashBottom + 8 * kFlashSectorWords == kFlashTop + 1);

const FlashSector* SectorByLetter(const QString& letter);
const FlashSector* SectorByCode(int code);
// Anything from sector A's first word up is sector A; below sector H is no sector.
const FlashSector* SectorByAddress(std::uint32_t address);
const FlashSector* AllSectors(int* count);

}  // namespace zarv::device_io
