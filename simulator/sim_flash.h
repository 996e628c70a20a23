#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "device_IO/flash_sectors.h"

namespace zarv::sim {

using device_io::kCodeStartAddress;
using device_io::kCodeStartReadWords;
using device_io::kCodeStartWords;
using device_io::kFlashSectorWords;
using device_io::kFlashTop;

// The controller's flash: sectors A..H of 8192 words, indexed here by sector code
// (H = 0 .. A = 7), and the ten code-start words. Optionally kept in a file so an
// update survives a restart.
class SimFlash {
  public:
    static constexpr int kSectors = 8;
    static constexpr int kWords = kFlashSectorWords;
    // Where the code start and the words ReadCodeStart returns lie in sector A.
    static constexpr int kCodeStartOffset = kWords - (kFlashTop + 1 - kCodeStartAddress);
    static constexpr int kCodeStartReadOffset = kWords - kCodeStartReadWords;

    explicit SimFlash(QString persist_path = QString());

    void loadFactoryImage();
    static std::uint16_t FactoryWord(int sector_code, int offset);

    // Status codes as the controller returns them.
    int erase(int sector_code);
    int program(int sector_code, int offset, const std::vector<std::uint16_t>& words);
    void copyStagedToMain(const QString& left_alone = QString());  // E to H, D to G, C to F
    void writeCodeStart(const std::array<std::uint16_t, kCodeStartWords>& words);
    std::array<std::uint16_t, kCodeStartReadWords> readCodeStart() const;

    const std::vector<std::uint16_t>& sector(int code) const { return sectors_[code]; }
    std::vector<std::uint16_t>& sector(int code) { return sectors_[code]; }
    bool codeStartWritten() const { return code_start_written_; }

    void save() const;

  private:
    bool load();

    std::array<std::vector<std::uint16_t>, kSectors> sectors_;
    std::array<std::uint16_t, kCodeStartWords> code_start_{};
    bool code_start_written_ = false;
    QString persist_path_;
};

}  // namespace zarv::sim
