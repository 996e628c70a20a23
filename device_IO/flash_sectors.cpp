#include "flash_sectors.h"

#include <iterator>

namespace zarv::device_io {

namespace {
constexpr FlashSector kSectors[] = {
    {'A', 0x003F6000, 7, "sector_a.txt"}, {'B', 0x003F4000, 6, "sector_b.txt"},
    {'C', 0x003F2000, 5, "sector_c.txt"}, {'D', 0x003F0000, 4, "sector_d.txt"},
    {'E', 0x003EE000, 3, "sector_e.txt"}, {'F', 0x003EC000, 2, "sector_f.txt"},
    {'G', 0x003EA000, 1, "sector_g.txt"}, {'H', 0x003E8000, 0, "sector_h.txt"},
};
}  // namespace

const FlashSector* AllSectors(int* count) {
    *count = static_cast<int>(std::size(kSectors));
    return kSectors;
}

const FlashSector* SectorByLetter(const QString& letter) {
    for (const FlashSector& s : kSectors)
        if (letter == QString(QLatin1Char(s.letter))) return &s;
    return nullptr;
}

const FlashSector* SectorByCode(int code) {
    for (const FlashSector& s : kSectors)
        if (s.code == code) return &s;
    return nullptr;
}

const FlashSector* SectorByAddress(std::uint32_t address) {
    for (const FlashSector& s : kSectors)  // highest first
        if (address >= s.first_address) return &s;
    return nullptr;
}

}  // namespace zarv::device_io
