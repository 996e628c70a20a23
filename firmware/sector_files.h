#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "station/hex_text.h"

namespace zarv::firmware {

// A sector word file line: eight hex digits of the first word's address, then
// the words at consecutive addresses, four hex digits each. No separators.
struct SectorLine {
    std::uint32_t address = 0;
    std::vector<std::uint16_t> words;
};

// Hexadecimal value of text, any case; throws the integer error naming "0x"+text.
std::uint32_t ParseHexField(const QString& text);

// Address from characters 1-8; word count = data length / 4, halves to even;
// a word cut short by the line end is read from what is there.
SectorLine ParseSectorLine(const QString& line);
// Words a line holds whose data part has this many characters: 6 give 2, 10 give 2.
int SectorLineWordCount(int data_characters);

// The lines of a text file, ended by CR LF, LF or CR alone; throws "File not
// found" when it cannot be read.
QStringList ReadTextLines(const QString& path);

// A sector's 8192 words as a sector word file gives them, placed by their offset
// from base; 0xFFFF, as erased flash reads, where the file says nothing.
std::vector<std::uint16_t> LoadSectorWords(const QString& path, std::uint32_t base);

// The first offset at which two sectors' words differ; -1 when they agree.
int FirstDifference(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b);

// One line per word, "0xIIII  0xRRRR", image word then read word, CR LF.
void WriteComparisonReport(const QString& path, const std::vector<std::uint16_t>& image,
                           const std::vector<std::uint16_t>& read);

// 512 lines of 16 words, upper-case, CR LF.
void WriteReadBackFile(const QString& path, std::uint32_t first_address,
                       const std::vector<std::uint16_t>& words);

}  // namespace zarv::firmware
