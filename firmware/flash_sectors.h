#pragma once

#include <QString>
#include <cstdint>

// The controller's flash in 16-bit words: eight sectors of 8192 words, A highest.
struct FlashSector {
    char letter;
    std::uint32_t first_address;
    int code;
    const char* file_name;
};

constexpr int kFlashSectorWords = 8192;
constexpr std::uint32_t kFlashBottom = 0x003E8000;  // first word of sector H
constexpr std::uint32_t kCodeStartAddress = 0x003F7FF6;

const FlashSector* SectorByLetter(const QString& letter);
// Anything from sector A's first word up is sector A; below sector H is no sector.
const FlashSector* SectorByAddress(std::uint32_t address);
const FlashSector* AllSectors(int* count);
