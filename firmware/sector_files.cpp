#include "sector_files.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "device_IO/flash_sectors.h"
#include "station/station_error.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

std::uint32_t ParseHexField(const QString& text) {
    bool ok = !text.isEmpty() && text.size() <= 8;
    for (QChar c : text) ok = ok && isxdigit(c.unicode() < 128 ? c.toLatin1() : 'g');
    if (!ok) throw notValidInteger(QStringLiteral("0x") + text);
    return text.toUInt(nullptr, 16);
}

SectorLine ParseSectorLine(const QString& line) {
    SectorLine parsed;
    parsed.address = ParseHexField(line.left(8));
    const QString data = line.mid(8);
    const int count = SectorLineWordCount(static_cast<int>(data.size()));
    parsed.words.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        parsed.words.push_back(static_cast<std::uint16_t>(ParseHexField(data.mid(4 * k, 4))));
    return parsed;
}

int SectorLineWordCount(int data_characters) {
    // Four characters a word, halves going to the even count.
    const int whole = data_characters / 4;
    const int rest = data_characters % 4;
    return whole + ((rest > 2 || (rest == 2 && whole % 2 == 1)) ? 1 : 0);
}

QStringList ReadTextLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) throw fileNotFound();
        throw StationError(QStringLiteral("File access denied"));
    }
    QString text = QString::fromLatin1(file.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

std::vector<std::uint16_t> LoadSectorWords(const QString& path, std::uint32_t base) {
    std::vector<std::uint16_t> words(kFlashSectorWords, 0xFFFF);
    for (const QString& text : ReadTextLines(path)) {
        const SectorLine line = ParseSectorLine(text);
        const std::int64_t first = std::int64_t{line.address} - base;
        for (std::size_t i = 0; i < line.words.size(); ++i) {
            const std::int64_t at = first + static_cast<std::int64_t>(i);
            if (at >= 0 && at < kFlashSectorWords)
                words[static_cast<std::size_t>(at)] = line.words[i];
        }
    }
    return words;
}

int FirstDifference(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<int>(i);
    return a.size() == b.size() ? -1 : static_cast<int>(n);
}

void WriteComparisonReport(const QString& path, const std::vector<std::uint16_t>& image,
                           const std::vector<std::uint16_t>& read) {
    QByteArray report;
    report.reserve(static_cast<qsizetype>(image.size()) * 16);
    for (std::size_t i = 0; i < image.size() && i < read.size(); ++i)
        report +=
            QStringLiteral("0x%1  0x%2\r\n").arg(Hex(image[i], 4), Hex(read[i], 4)).toLatin1();
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(report) != report.size())
        throw StationError(QStringLiteral("Cannot write %1").arg(path));
}

void WriteReadBackFile(const QString& path, std::uint32_t first_address,
                       const std::vector<std::uint16_t>& words) {
    QByteArray text;
    text.reserve(512 * (8 + 64 + 2));
    for (int k = 0; k < 512; ++k) {
        text += Hex(first_address + 16u * static_cast<std::uint32_t>(k), 8).toLatin1();
        for (int i = 0; i < 16; ++i)
            text += Hex(words[static_cast<std::size_t>(16 * k + i)], 4).toLatin1();
        text += "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        throw StationError(QStringLiteral("Cannot write %1").arg(path));
}

}  // namespace zarv::firmware
