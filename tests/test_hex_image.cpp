#include <QFileInfo>

#include "firmware/hex_image.h"
#include "firmware/sector_files.h"
#include "hex_builder.h"
#include "station/station_error.h"
#include "station_fixture.h"

using namespace zarv::firmware;
using namespace zarv::station;

namespace {
class HexTest : public StationFixture {
  protected:
    void convert(const QStringList& lines) {
        writeFile("image.hex", (lines.join("\r\n") + "\r\n").toLatin1());
        ConvertHexImage(path("image.hex"), dir.path());
    }
    QString convertError(const QStringList& lines) {
        try {
            convert(lines);
        } catch (const StationError& e) {
            return e.text();
        }
        return QString();
    }
    QStringList fileLines(const QString& name) { return ReadTextLines(path(name)); }
    bool exists(const QString& name) { return QFileInfo::exists(path(name)); }
};

TEST_F(HexTest, AcceptanceLooksAtTheFirstLineOnly) {
    writeFile("a.hex", ":garbage\n\n");
    EXPECT_TRUE(AcceptHexImage(path("a.hex")));
    writeFile("b.hex", "\n:00000001FF\n");
    EXPECT_FALSE(AcceptHexImage(path("b.hex")));
    writeFile("c.hex", " :00000001FF\n");
    EXPECT_FALSE(AcceptHexImage(path("c.hex")));
    EXPECT_THROW(AcceptHexImage(path("missing.hex")), StationError);
}

TEST_F(HexTest, RecordsLandInTheirSectorFiles) {
    QStringList image{HexRecord(0, 0x1000, {1, 2})};  // before any "04": below every sector
    image << HexWords(0x003E8000, {0x1111, 0x2222, 0x3333}) << HexRecord(2, 0, {0x10, 0})
          << HexRecord(5, 0, {1, 2, 3, 4}) << HexWords(0x003F7FF6, {0x0040, 0x8000}) << HexEnd();
    convert(image);
    EXPECT_EQ(fileLines("sector_h.txt"), QStringList{"003E8000111122223333"});
    EXPECT_EQ(fileLines("sector_a.txt"), QStringList{"003F7FF600408000"});
    for (const char* name : {"sector_b.txt", "sector_c.txt", "sector_g.txt"})
        EXPECT_FALSE(exists(name));
    EXPECT_TRUE(readFile("sector_h.txt").endsWith("\r\n"));
}

TEST_F(HexTest, TypesOtherThanDataDoNotCloseTheFile) {
    QStringList image = HexWords(0x003EA000, {1});
    image << HexRecord(1, 0, {}) << HexRecord(2, 0, {0x20, 0}) << HexRecord(0, 0xA010, {0, 2});
    convert(image);
    EXPECT_EQ(fileLines("sector_g.txt"), QStringList({"003EA0000001", "003EA0100002"}));
}

TEST_F(HexTest, DataBelowTheFlashMakesNoFile) {
    convert(HexWords(0x00001000, {1, 2, 3}) << HexEnd());
    EXPECT_TRUE(QDir(dir.path()).entryList({"sector_*.txt"}).isEmpty());
}

TEST_F(HexTest, ARunEnteringSectorHFromBelow) {
    QStringList image{HexUpper(0x003E)};
    image << HexRecord(0, 0x7FF8, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8})
          << HexRecord(0, 0x8000, {0xAB, 0xCD});
    convert(image);
    EXPECT_EQ(fileLines("sector_h.txt"), QStringList{"003E8000ABCD"});
}

TEST_F(HexTest, EveryRecordFindsItsOwnSectorAndFilesAreAppendedToWhenEnteredAgain) {
    QStringList image{HexUpper(0x003E)};
    image << HexRecord(0, 0x9FF8, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8})  // last of H
          << HexRecord(0, 0xA000, {0, 9});                                           // first of G
    image << HexUpper(0x003E) << HexRecord(0, 0x8010, {0, 10});                      // H again
    convert(image);
    EXPECT_EQ(fileLines("sector_h.txt"),
              QStringList({"003E9FF800010002000300040005000600070008", "003E8010000A"}));
    EXPECT_EQ(fileLines("sector_g.txt"), QStringList{"003EA0000009"});
}

TEST_F(HexTest, ARecordStraddlingTwoSectorsIsRefused) {
    const QString error = convertError({HexUpper(0x003E), HexRecord(0, 0x9FFF, {0, 1, 0, 2})});
    EXPECT_EQ(error, "Line 2 of the firmware image crosses a flash sector boundary");
}

TEST_F(HexTest, StaleFilesOfAnEarlierConversionAreRemoved) {
    writeFile("sector_g.txt", "003EA0001234\r\n");
    convert(HexWords(0x003E8000, {1}));
    EXPECT_FALSE(exists("sector_g.txt"));
}

TEST_F(HexTest, MalformedLinesNameTheProblem) {
    EXPECT_EQ(convertError({HexUpper(0x003E), ""}), "'0x' is not a valid integer value");
    EXPECT_EQ(convertError({":ZZ0000"}),
              "Line 1 of the firmware image holds a character that is not hexadecimal");
    QString bad = HexRecord(0, 0x8000, {0x12, 0x34});
    bad[bad.size() - 1] = bad.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(convertError({HexUpper(0x003E), bad}),
              "Line 2 of the firmware image has a wrong checksum");
    EXPECT_EQ(convertError({":0200000400"}), "Line 1 of the firmware image is cut short");
    EXPECT_EQ(convertError({":02800000GG3412"}),
              "Line 1 of the firmware image holds a character that is not hexadecimal");
}

// "+4", " 4" and "4 " would pass a lenient number reader and its checksum.
TEST_F(HexTest, SignsAndBlanksAreNotHexadecimalInAnyField) {
    const QString good = HexRecord(0, 0x8000, {0x12, 0x34});  // :02 8000 00 1234 38
    for (const int field : {1, 3, 7, 9, 13}) {
        for (const QString& bad :
             {QStringLiteral("+4"), QStringLiteral(" 4"), QStringLiteral("4 ")}) {
            QString line = good;
            line.replace(field, 2, bad);
            EXPECT_EQ(convertError({HexUpper(0x003E), line}),
                      "Line 2 of the firmware image holds a character that is not hexadecimal")
                << line.toStdString();
        }
    }
    EXPECT_FALSE(exists("sector_h.txt"));
}

TEST_F(HexTest, CrLfAndCrAloneEndLinesAlike) {
    const QStringList image = HexWords(0x003E8000, {1, 2, 3}) << HexWords(0x003EA000, {4});
    QList<QByteArray> results;
    for (const char* end : {"\r\n", "\n", "\r"}) {
        writeFile("image.hex", (image.join(QLatin1String(end)) + QLatin1String(end)).toLatin1());
        ConvertHexImage(path("image.hex"), dir.path());
        results << readFile("sector_h.txt") + readFile("sector_g.txt");
    }
    EXPECT_EQ(results[0], QByteArray("003E8000000100020003\r\n003EA0000004\r\n"));
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
}

TEST_F(HexTest, ARecordsExtentIsCountedAsItsWordsAreRead) {
    // Five bytes read as two words (10 characters: 2.5 words, halves to even),
    // both in sector H.
    EXPECT_EQ(convertError({HexUpper(0x003E), HexRecord(0, 0x9FFE, {1, 2, 3, 4, 5})}), "");
    EXPECT_EQ(fileLines("sector_h.txt"), QStringList{"003E9FFE0102030405"});
    // The top of the address space does not wrap round into no sector at all.
    EXPECT_EQ(convertError({HexUpper(0xFFFF), HexRecord(0, 0xFFFF, {1, 2, 3, 4})}), "");
    EXPECT_TRUE(exists("sector_a.txt"));
}

TEST(SectorLines, ReadingRule) {
    SectorLine l = ParseSectorLine("003E8000123456");
    EXPECT_EQ(l.address, 0x003E8000u);
    EXPECT_EQ(l.words, (std::vector<std::uint16_t>{0x1234, 0x56}));  // 6 characters: 2 words
    EXPECT_EQ(ParseSectorLine("003e80001234567890").words,
              (std::vector<std::uint16_t>{0x1234, 0x5678}));   // 10: 2
    EXPECT_TRUE(ParseSectorLine("003E800012").words.empty());  // 2: 0
    EXPECT_EQ(ParseSectorLine("003E8000abcd").words, std::vector<std::uint16_t>{0xABCD});
    EXPECT_EQ(ParseSectorLine("003E800011112222333").words.size(), 3u);
    EXPECT_THROW(ParseSectorLine(""), StationError);
    EXPECT_THROW(ParseSectorLine("003E8000XYZW"), StationError);
}
}  // namespace
