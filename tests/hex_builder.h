#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// Intel HEX records with correct checksums, for images made by the tests.
inline QString HexRecord(int type, std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
        static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    QString line = ":";
    for (auto b : bytes) line += QString::asprintf("%02X", b);
    return line;
}

inline QString HexUpper(std::uint16_t upper) {
    return HexRecord(4, 0,
                     {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

// Data records for words at consecutive word addresses, 8 words a record.
inline QStringList HexWords(std::uint32_t address, const std::vector<std::uint16_t>& words,
                            int per_record = 8) {
    QStringList lines{HexUpper(static_cast<std::uint16_t>(address >> 16))};
    for (std::size_t i = 0; i < words.size(); i += per_record) {
        std::vector<std::uint8_t> data;
        for (std::size_t k = i; k < std::min(words.size(), i + per_record); ++k) {
            data.push_back(static_cast<std::uint8_t>(words[k] >> 8));
            data.push_back(static_cast<std::uint8_t>(words[k]));
        }
        lines << HexRecord(0, static_cast<std::uint16_t>(address + i), data);
    }
    return lines;
}

inline QString HexEnd() {
    return HexRecord(1, 0, {});
}
