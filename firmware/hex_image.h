#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "station/station_error.h"

namespace zarv::firmware {

// Why an image is refused: the line (from 1; 0 when it is the whole file) and
// the reason. Its text reads "Line 4 of the firmware image has a wrong checksum".
class ImageRefused : public station::StationError {
  public:
    ImageRefused(int line, const QString& reason);
    int line() const { return line_; }
    const QString& reason() const { return reason_; }

  private:
    int line_;
    QString reason_;
};

// What an Intel HEX image sets in the controller's flash, by sector code
// (H = 0 .. A = 7).
struct HexImage {
    static constexpr int kSectors = 8;
    // The words the image sets; 0xFFFF, as erased flash reads, where it sets none.
    std::array<std::vector<std::uint16_t>, kSectors> words;
    // The sector word file lines, in image order: a sector has data when it has lines.
    std::array<QStringList, kSectors> lines;
    // Records with data outside the main sectors H, G, F and the code start.
    int outside_records = 0;
    bool code_start_set[2] = {false, false};
    // The image file's SHA-256 in lower-case hex: which image it was, for the log.
    QString sha256;

    bool carries(char letter) const;
    std::uint16_t word(std::uint32_t address) const;  // 0xFFFF outside the flash
};

// Reads and checks a whole image: every line a record with its checksum, record
// types as Intel HEX defines them (02 and 04 move the address; 03 and 05 are
// skipped), whole words only, no record over a sector's edge or the flash's,
// no word set twice, and exactly one end-of-file record, the last. Throws
// ImageRefused naming the line, or StationError when the file cannot be read.
HexImage ReadHexImage(const QString& path);

// What the update also needs: sector H, where the firmware begins, and both
// words of the code start. Throws ImageRefused.
void CheckImageForUpdate(const HexImage& image);

// Writes the sector word files of the sectors the image has data for into
// out_dir, after removing those an earlier conversion left.
void WriteSectorFiles(const HexImage& image, const QString& out_dir);

// ReadHexImage, then WriteSectorFiles.
void ConvertHexImage(const QString& path, const QString& out_dir);

}  // namespace zarv::firmware
