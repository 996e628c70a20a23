#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// The controller's flash: sectors A..H of 8192 words, indexed here by sector code
// (H = 0 .. A = 7), and the ten code-start words. Optionally kept in a file so an
// update survives a restart.
class SimFlash {
  public:
    static constexpr int kSectors = 8;
    static constexpr int kWords = 8192;
    static constexpr int kCodeStartOffset = 0x1FF6;  // 0x003F7FF6 within sector A

    explicit SimFlash(QString persist_path = QString());

    void loadFactoryImage();
    static std::uint16_t FactoryWord(int sector_code, int offset);

    // Status codes as the controller returns them.
    int erase(int sector_code);
    int program(int sector_code, int offset, const std::vector<std::uint16_t>& words);
    void copyStagedToMain();  // E to H, D to G, C to F
    void writeCodeStart(const std::array<std::uint16_t, 10>& words);
    std::array<std::uint16_t, 128> readCodeStart() const;

    const std::vector<std::uint16_t>& sector(int code) const { return sectors_[code]; }
    std::vector<std::uint16_t>& sector(int code) { return sectors_[code]; }
    bool codeStartWritten() const { return code_start_written_; }

    void save() const;

  private:
    bool load();

    std::array<std::vector<std::uint16_t>, kSectors> sectors_;
    std::array<std::uint16_t, 10> code_start_{};
    bool code_start_written_ = false;
    QString persist_path_;
};
