#include "hex_records.h"

#include <QFile>
#include <QFileInfo>

#include "hex_image.h"

namespace zarv::firmware {

using namespace zarv::station;

namespace {
int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int byteAt(const char* text) {
    return 16 * digit(text[0]) + digit(text[1]);
}

constexpr int kHeaderDigits = 1 + 2 + 4 + 2;  // ':', count, offset, type
}  // namespace

std::uint16_t HexRecord::word(int i) const {
    return static_cast<std::uint16_t>((byteAt(data + 4 * i) << 8) | byteAt(data + 4 * i + 2));
}

HexRecord ParseHexRecord(int number, const char* text, int size) {
    if (size == 0) throw ImageRefused(number, QStringLiteral("is empty"));
    if (size >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
        throw ImageRefused(number, QStringLiteral("begins with a UTF-8 byte-order mark: an image "
                                                  "is plain ASCII"));
    if (text[0] != ':') throw ImageRefused(number, QStringLiteral("does not begin with ':'"));
    for (int i = 1; i < size; ++i)
        if (digit(text[i]) < 0)
            throw ImageRefused(number, QStringLiteral("holds a character that is not hexadecimal"));
    if (size < kHeaderDigits + 2) throw ImageRefused(number, QStringLiteral("is cut short"));
    HexRecord record;
    record.count = byteAt(text + 1);
    const int expected = kHeaderDigits + 2 * record.count + 2;
    if (size < expected) throw ImageRefused(number, QStringLiteral("is cut short"));
    if (size > expected)
        throw ImageRefused(number, QStringLiteral("is longer than its byte count says"));
    unsigned sum = 0;
    for (int i = 1; i < size; i += 2) sum += static_cast<unsigned>(byteAt(text + i));
    if ((sum & 0xFF) != 0) throw ImageRefused(number, QStringLiteral("has a wrong checksum"));
    record.offset = static_cast<std::uint16_t>((byteAt(text + 3) << 8) | byteAt(text + 5));
    record.type = byteAt(text + 7);
    record.data = text + kHeaderDigits;
    return record;
}

QByteArray ReadImageFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) throw fileNotFound();
        throw StationError(QStringLiteral("File access denied"));
    }
    return file.readAll();
}

void ForEachLine(const QByteArray& bytes,
                 const std::function<void(int number, const char* text, int size)>& each) {
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    int number = 0;
    while (p < end) {
        const char* stop = p;
        while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
        each(++number, p, static_cast<int>(stop - p));
        if (stop < end && *stop == '\r' && stop + 1 < end && stop[1] == '\n') ++stop;
        p = stop + 1;
    }
}

}  // namespace zarv::firmware
