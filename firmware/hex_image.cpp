#include "hex_image.h"

#include <QCryptographicHash>

#include <QFile>

#include "device_IO/flash_sectors.h"
#include "hex_records.h"
#include "station/hex_text.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

ImageRefused::ImageRefused(int line, const QString& reason)
    : StationError(line > 0
                       ? QStringLiteral("Line %1 of the firmware image %2").arg(line).arg(reason)
                       : QStringLiteral("The firmware image %1").arg(reason)),
      line_(line),
      reason_(reason) {}

bool HexImage::carries(char letter) const {
    const FlashSector* sector = SectorByLetter(QString(QLatin1Char(letter)));
    return sector && !lines[static_cast<std::size_t>(sector->code)].isEmpty();
}

std::uint16_t HexImage::word(std::uint32_t address) const {
    if (address < kFlashBottom || address > kFlashTop) return 0xFFFF;
    const FlashSector* sector = SectorByAddress(address);
    return words[static_cast<std::size_t>(sector->code)][address - sector->first_address];
}

namespace {
constexpr std::uint32_t kFlashWords = kFlashTop + 1 - kFlashBottom;

bool inFlash(std::uint64_t address) {
    return address >= kFlashBottom && address <= kFlashTop;
}

// A word that the update writes: in H, G or F, or one of the two code-start words.
bool written(std::uint32_t address) {
    const int code = SectorByAddress(address)->code;
    return code <= 2 || address == kCodeStartAddress || address == kCodeStartAddress + 1;
}

// Goes through the image record by record, keeping the address base that the
// last 02 or 04 record set and which line set each word of the flash.
class ImageReader {
  public:
    ImageReader() : set_by_(kFlashWords, 0) {
        for (auto& sector : image_.words) sector.assign(kFlashSectorWords, 0xFFFF);
    }

    void line(int number, const char* text, int size) {
        if (end_line_ > 0) {
            if (size == 0) return;  // blank lines after the end are nothing
            throw ImageRefused(
                number, QStringLiteral("follows the end-of-file record (line %1)").arg(end_line_));
        }
        const HexRecord record = ParseHexRecord(number, text, size);
        switch (record.type) {
            case 0x00:
                data(number, record);
                break;
            case 0x01:
                if (record.count != 0)
                    throw ImageRefused(number,
                                       QStringLiteral("is an end-of-file record that holds data"));
                end_line_ = number;
                break;
            case 0x02:
            case 0x04:
                if (record.count != 2)
                    throw ImageRefused(number,
                                       QStringLiteral("is an address record whose byte count "
                                                      "is not 2"));
                refuseMixedAddressing(number, record.type);
                base_ = record.type == 0x04 ? std::uint32_t{record.word(0)} << 16
                                            : std::uint32_t{record.word(0)} << 4;
                break;
            case 0x03:
            case 0x05:
                break;  // a start address means nothing to this flash
            default:
                throw ImageRefused(number, QStringLiteral("has record type %1, which Intel HEX "
                                                          "does not define")
                                               .arg(Hex(record.type, 2)));
        }
    }

    HexImage finish() {
        if (end_line_ == 0)
            throw ImageRefused(0, QStringLiteral("ends without an end-of-file record: it is cut "
                                                 "short"));
        image_.code_start_set[0] = set_by_[kCodeStartAddress - kFlashBottom] != 0;
        image_.code_start_set[1] = set_by_[kCodeStartAddress + 1 - kFlashBottom] != 0;
        return std::move(image_);
    }

  private:
    // Segment (02) and linear (04) addresses in one image leave it open which
    // of them places the data that follows: guessing could flash it elsewhere.
    void refuseMixedAddressing(int number, int type) {
        if (type == 0x02 && first_segment_line_ == 0) first_segment_line_ = number;
        if (type == 0x04) linear_seen_ = true;
        if (first_segment_line_ != 0 && linear_seen_)
            throw ImageRefused(first_segment_line_,
                               QStringLiteral("is an extended segment address record (02) in an "
                                              "image that also has extended linear address "
                                              "records (04): where the data belongs is "
                                              "ambiguous"));
    }

    void data(int number, const HexRecord& record) {
        if (record.count % 2 != 0)
            throw ImageRefused(number, QStringLiteral("has an odd byte count (%1): the flash "
                                                      "takes whole 16-bit words")
                                           .arg(record.count));
        const int count = record.count / 2;
        if (count == 0) return;
        const std::uint64_t first = std::uint64_t{base_} + record.offset;
        const std::uint64_t last = first + static_cast<std::uint64_t>(count) - 1;
        if (inFlash(first) != inFlash(last))
            throw ImageRefused(number, QStringLiteral("runs over an edge of the flash"));
        if (!inFlash(first)) {
            ++image_.outside_records;
            return;
        }
        const FlashSector* sector = SectorByAddress(static_cast<std::uint32_t>(first));
        if (SectorByAddress(static_cast<std::uint32_t>(last)) != sector)
            throw ImageRefused(number, QStringLiteral("crosses a flash sector boundary"));
        place(number, static_cast<std::uint32_t>(first), *sector, record);
    }

    void place(int number, std::uint32_t first, const FlashSector& sector,
               const HexRecord& record) {
        auto& words = image_.words[static_cast<std::size_t>(sector.code)];
        bool outside = false;
        for (int i = 0; i < record.count / 2; ++i) {
            const std::uint32_t address = first + static_cast<std::uint32_t>(i);
            int& by = set_by_[address - kFlashBottom];
            if (by != 0)
                throw ImageRefused(number, QStringLiteral("sets the word at 0x%1 again (line %2 "
                                                          "set it first)")
                                               .arg(Hex(address, 8))
                                               .arg(by));
            by = number;
            words[address - sector.first_address] = record.word(i);
            outside = outside || !written(address);
        }
        if (outside) ++image_.outside_records;
        image_.lines[static_cast<std::size_t>(sector.code)]
            << Hex(first, 8) + QString::fromLatin1(record.data, 2 * record.count);
    }

    HexImage image_;
    std::vector<int> set_by_;  // the line that set each flash word, 0 for none
    std::uint32_t base_ = 0;
    int end_line_ = 0;
    int first_segment_line_ = 0;  // the first 02 record's
    bool linear_seen_ = false;    // a 04 record
};
}  // namespace

HexImage ReadHexImage(const QString& path) {
    const QByteArray bytes = ReadImageFile(path);
    ImageReader reader;
    ForEachLine(bytes,
                [&](int number, const char* text, int size) { reader.line(number, text, size); });
    HexImage image = reader.finish();
    image.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return image;
}

void CheckImageForUpdate(const HexImage& image) {
    if (!image.carries('H'))
        throw ImageRefused(0, QStringLiteral("holds no data for sector H (0x003E8000 to "
                                             "0x003E9FFF), where the firmware begins"));
    if (!image.code_start_set[0] || !image.code_start_set[1])
        throw ImageRefused(0, QStringLiteral("holds no code start: both words at 0x003F7FF6 and "
                                             "0x003F7FF7 are needed"));
}

void WriteSectorFiles(const HexImage& image, const QString& out_dir) {
    int count = 0;
    const FlashSector* sectors = AllSectors(&count);
    for (int i = 0; i < count; ++i) {
        const QString path = out_dir + QLatin1Char('/') + QLatin1String(sectors[i].file_name);
        QFile::remove(path);
        const QStringList& lines = image.lines[static_cast<std::size_t>(sectors[i].code)];
        if (lines.isEmpty()) continue;
        const QByteArray text =
            (lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toLatin1();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(text) != text.size())
            throw StationError(QStringLiteral("Cannot write %1").arg(path));
    }
}

void ConvertHexImage(const QString& path, const QString& out_dir) {
    WriteSectorFiles(ReadHexImage(path), out_dir);
}

}  // namespace zarv::firmware
