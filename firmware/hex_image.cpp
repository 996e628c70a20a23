#include "hex_image.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <set>

#include "device_IO/flash_sectors.h"
#include "sector_files.h"
#include "station/run_config.h"
#include "station/station_error.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

bool AcceptHexImage(const QString& path) {
    const QStringList lines = ReadTextLines(path);
    return !lines.isEmpty() && lines.first().startsWith(QLatin1Char(':'));
}

namespace {
StationError lineError(int number, const QString& what) {
    return StationError(QStringLiteral("Line %1 of the firmware image %2").arg(number).arg(what));
}

// Every character after ':' is a hexadecimal digit: no sign, no blank.
void verifyDigits(const QString& line, int number) {
    for (int i = 1; i < line.size(); ++i)
        if (HexDigitValue(line[i]) < 0)
            throw lineError(number, QStringLiteral("holds a character that is not hexadecimal"));
}

// The sum of every byte of the record, count to checksum, is 0 modulo 256.
void verifyChecksum(const QString& line, int count, int number) {
    const int digits = 2 * (1 + 2 + 1 + count + 1);
    if (line.size() < 1 + digits) throw lineError(number, QStringLiteral("is cut short"));
    unsigned sum = 0;
    for (int i = 1; i < 1 + digits; i += 2)
        sum += static_cast<unsigned>(16 * HexDigitValue(line[i]) + HexDigitValue(line[i + 1]));
    if ((sum & 0xFF) != 0) throw lineError(number, QStringLiteral("has a wrong checksum"));
}

// The sector of a record's last word, counted as the sector word file's readers
// count words; past the 32-bit address space is still sector A.
const FlashSector* sectorOfLastWord(std::uint32_t address, int count) {
    const int words = SectorLineWordCount(2 * count);
    const std::uint64_t last =
        std::uint64_t{address} + static_cast<std::uint64_t>(std::max(words, 1)) - 1;
    return SectorByAddress(static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFFu)));
}

class SectorFileWriter {
  public:
    explicit SectorFileWriter(QString out_dir) : out_dir_(std::move(out_dir)) {}

    void removeEarlierFiles() {
        int count = 0;
        const FlashSector* sectors = AllSectors(&count);
        for (int i = 0; i < count; ++i) QFile::remove(pathOf(sectors[i]));
    }
    bool isOpen() const { return file_.isOpen(); }
    const FlashSector* sector() const { return sector_; }
    void open(const FlashSector& sector) {
        close();
        // A sector entered again by a later run keeps the lines it has.
        const bool again = !opened_.insert(sector.letter).second;
        file_.setFileName(pathOf(sector));
        const auto mode = QIODevice::WriteOnly | (again ? QIODevice::Append : QIODevice::Truncate);
        if (!file_.open(mode))
            throw StationError(QStringLiteral("Cannot write %1").arg(file_.fileName()));
        sector_ = &sector;
    }
    void write(const QString& line) {
        const QByteArray bytes = line.toLatin1() + "\r\n";
        if (file_.write(bytes) != bytes.size())
            throw StationError(QStringLiteral("Cannot write %1").arg(file_.fileName()));
    }
    void close() {
        if (file_.isOpen()) file_.close();
        sector_ = nullptr;
    }

  private:
    QString pathOf(const FlashSector& s) const {
        return out_dir_ + QLatin1Char('/') + QLatin1String(s.file_name);
    }

    QString out_dir_;
    QFile file_;
    const FlashSector* sector_ = nullptr;
    std::set<char> opened_;
};
}  // namespace

void ConvertHexImage(const QString& path, const QString& out_dir) {
    const QStringList lines = ReadTextLines(path);
    SectorFileWriter out(out_dir);
    out.removeEarlierFiles();
    QString upper = QStringLiteral("0000");
    int number = 0;
    for (const QString& line : lines) {
        ++number;
        verifyDigits(line, number);
        const QString count_field = line.mid(1, 2);
        if (count_field.size() < 2) throw notValidInteger(QStringLiteral("0x") + count_field);
        const int count = static_cast<int>(ParseHexField(count_field));
        verifyChecksum(line, count, number);
        const QString type = line.mid(7, 2);
        if (type == QLatin1String("04")) {
            upper = line.mid(9, 4);
            out.close();
        }
        if (type != QLatin1String("00")) continue;
        const QString offset = line.mid(3, 4);
        const std::uint32_t address = ParseHexField(upper + offset);
        const FlashSector* sector = SectorByAddress(address);
        if (sector != sectorOfLastWord(address, count))
            throw lineError(number, QStringLiteral("crosses a flash sector boundary"));
        if (!sector) continue;  // below the flash: skipped
        if (!out.isOpen() || out.sector() != sector) out.open(*sector);
        out.write(upper + offset + line.mid(9, 2 * count));
    }
    out.close();
}

QString HexImageSectors(const QString& path) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) throw StationError(QStringLiteral("Cannot make a scratch directory"));
    ConvertHexImage(path, scratch.path());
    QString letters;
    int count = 0;
    const FlashSector* sectors = AllSectors(&count);
    for (int i = count - 1; i >= 0; --i)
        if (QFileInfo::exists(scratch.path() + QLatin1Char('/') +
                              QLatin1String(sectors[i].file_name)))
            letters += QLatin1Char(sectors[i].letter);
    std::sort(letters.begin(), letters.end());
    return letters;
}

}  // namespace zarv::firmware
