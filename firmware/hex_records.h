#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

namespace zarv::firmware {

// One Intel HEX record, checked: ':' then hexadecimal digits only, as many as
// its byte count says, and a checksum that brings the sum of its bytes to 0.
struct HexRecord {
    int count = 0;
    std::uint16_t offset = 0;
    int type = 0;
    const char* data = nullptr;  // 2 * count digits

    // The i-th 16-bit word of the data, high byte first.
    std::uint16_t word(int i) const;
};

// Throws ImageRefused naming line number and what is wrong with it.
HexRecord ParseHexRecord(int number, const char* text, int size);

// The whole file; throws "File not found" or "File access denied".
QByteArray ReadImageFile(const QString& path);

// Calls each with every line (number from 1), ended by CR LF, LF or CR alone.
void ForEachLine(const QByteArray& bytes,
                 const std::function<void(int number, const char* text, int size)>& each);

}  // namespace zarv::firmware
