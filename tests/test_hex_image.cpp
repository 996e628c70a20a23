#include <QDir>
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

QStringList WithEnd(QStringList lines) {
    return lines << HexEnd();
}

TEST_F(HexTest, RecordsLandInTheirSectorFiles) {
    QStringList image{HexRecord(0, 0x1000, {1, 2})};  // before any "04": below every sector
    image << HexWords(0x003E8000, {0x1111, 0x2222, 0x3333}) << HexRecord(5, 0, {1, 2, 3, 4})
          << HexWords(0x003F7FF6, {0x0040, 0x8000}) << HexEnd();
    convert(image);
    EXPECT_EQ(fileLines("sector_h.txt"), QStringList{"003E8000111122223333"});
    EXPECT_EQ(fileLines("sector_a.txt"), QStringList{"003F7FF600408000"});
    for (const char* name : {"sector_b.txt", "sector_c.txt", "sector_g.txt"})
        EXPECT_FALSE(exists(name));
    EXPECT_TRUE(readFile("sector_h.txt").endsWith("\r\n"));
}

// Whole images only, every record as Intel HEX defines it, and the line named.
TEST_F(HexTest, BrokenImagesAreRefusedNamingTheLine) {
    const QStringList h = HexWords(0x003E8000, {1, 2});  // lines 1 to 2
    const struct {
        QStringList lines;
        const char* error;
    } cases[] = {
        {h, "The firmware image ends without an end-of-file record: it is cut short"},
        {QStringList(h) << HexEnd() << HexWords(0x003EA000, {3}),
         "Line 4 of the firmware image follows the end-of-file record (line 3)"},
        {QStringList(h) << HexEnd() << HexEnd(),
         "Line 4 of the firmware image follows the end-of-file record (line 3)"},
        {WithEnd(QStringList(h) << HexRecord(0, 0x8008, {1, 2, 3})),
         "Line 3 of the firmware image has an odd byte count (3): the flash takes whole 16-bit "
         "words"},
        {WithEnd(QStringList(h) << HexRecord(6, 0, {})),
         "Line 3 of the firmware image has record type 06, which Intel HEX does not define"},
        {WithEnd(QStringList(h) << ""), "Line 3 of the firmware image is empty"},
        {WithEnd(QStringList(h) << HexRecord(0, 0x8001, {0, 9})),
         "Line 3 of the firmware image sets the word at 0x003E8001 again (line 2 set it first)"},
        {WithEnd(QStringList(h) << HexRecord(0, 0x9FFF, {0, 1, 0, 2})),
         "Line 3 of the firmware image crosses a flash sector boundary"},
        {WithEnd(QStringList(h) << HexRecord(0, 0x7FFF, {0, 1, 0, 2})),
         "Line 3 of the firmware image runs over an edge of the flash"},
        {WithEnd(QStringList(h) << HexRecord(1, 0, {0})),
         "Line 3 of the firmware image is an end-of-file record that holds data"},
        {WithEnd(QStringList(h) << HexRecord(4, 0, {0})),
         "Line 3 of the firmware image is an address record whose byte count is not 2"},
        {WithEnd(QStringList(h) << HexRecord(0, 0x8008, {0, 1}) + "00"),
         "Line 3 of the firmware image is longer than its byte count says"},
        {{" :00000001FF"}, "Line 1 of the firmware image does not begin with ':'"},
        {{":ZZ0000"}, "Line 1 of the firmware image holds a character that is not hexadecimal"},
        {{":0200000400"}, "Line 1 of the firmware image is cut short"},
    };
    for (const auto& c : cases) {
        writeFile("old.txt", "");
        EXPECT_EQ(convertError(c.lines), c.error) << c.lines.join('\n').toStdString();
    }
    QString bad = HexRecord(0, 0x8000, {0x12, 0x34});
    bad[bad.size() - 1] = bad.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(convertError({HexUpper(0x003E), bad}),
              "Line 2 of the firmware image has a wrong checksum");
    EXPECT_TRUE(QDir(dir.path()).entryList({"sector_*.txt"}).isEmpty());  // nothing written
    const auto refusal = [&](const QByteArray& bytes) {
        writeFile("image.hex", bytes);
        try {
            ReadHexImage(path("image.hex"));
        } catch (const ImageRefused& e) {
            return e.text();
        }
        return QString();
    };
    EXPECT_EQ(refusal(""),
              "The firmware image ends without an end-of-file record: it is cut short");
    EXPECT_EQ(refusal("\xEF\xBB\xBF" + HexEnd().toLatin1()),
              "Line 1 of the firmware image begins with a UTF-8 byte-order mark: an image is "
              "plain ASCII");
    writeFile("junk.hex", QByteArray("\x7f\x45\x4c\x46\x02\x01\x01\x00\x00", 9));
    EXPECT_THROW(ReadHexImage(path("junk.hex")), ImageRefused);
    EXPECT_THROW(ReadHexImage(path("missing.hex")), StationError);
}

TEST_F(HexTest, BlankLinesAfterTheEndAreNothing) {
    writeFile("image.hex",
              (WithEnd(HexWords(0x003E8000, {1})).join("\r\n") + "\r\n\r\n\n").toLatin1());
    EXPECT_TRUE(ReadHexImage(path("image.hex")).carries('H'));
}

TEST_F(HexTest, LowerCaseDigitsReadAsUpperCase) {
    const QStringList upper =
        WithEnd(HexWords(0x003E8000, {0xABCD}) << HexWords(0x003F7FF6, {0xBEEF, 0xCAFE}));
    convert(QStringList(upper.join('\n').toLower().split('\n')));
    EXPECT_EQ(fileLines("sector_a.txt"), QStringList{"003F7FF6beefcafe"});
    const HexImage image = ReadHexImage(path("image.hex"));
    EXPECT_EQ(image.word(0x003E8000), 0xABCD);
    EXPECT_EQ(image.word(0x003F7FF7), 0xCAFE);
    EXPECT_NO_THROW(CheckImageForUpdate(image));
}

// Extended segment address records alone move the address as Intel HEX says:
// segment times 16, which lies far below this flash. Beside extended linear
// address records they are refused, at the first of them, before anything.
TEST_F(HexTest, SegmentAddressesAloneMoveTheDataAndBesideLinearOnesAreRefused) {
    convert(WithEnd({HexRecord(2, 0, {0x10, 0x00}), HexRecord(0, 0x8004, {0, 7})}));
    EXPECT_FALSE(QFile::exists(path("sector_h.txt")));
    EXPECT_EQ(ReadHexImage(path("image.hex")).outside_records, 1);
    for (const bool linear_first : {true, false}) {
        QStringList lines = HexWords(0x003E8000, {1});
        const QStringList segment{HexRecord(2, 0, {0x10, 0x00}), HexRecord(0, 0x8004, {0, 7})};
        lines = linear_first ? lines + segment : segment + lines;
        const int segment_line = linear_first ? 3 : 1;
        try {
            convert(WithEnd(lines));
            ADD_FAILURE() << "a 02 and 04 image was taken";
        } catch (const ImageRefused& refused) {
            EXPECT_EQ(refused.line(), segment_line);
            EXPECT_TRUE(
                refused.reason().startsWith("is an extended segment address record (02) "
                                            "in an image that also has extended linear "
                                            "address records (04)"));
        }
    }
}

TEST_F(HexTest, DataOutsideTheMainSectorsIsCounted) {
    QStringList lines = HexWords(0x003E8000, {1});
    lines << HexWords(0x00001000, {1, 2})        // below the flash
          << HexWords(0x003F4000, {3})           // sector B
          << HexWords(0x003EE000, {4})           // sector E, a spare
          << HexWords(0x003F7FF4, {5, 6, 7, 8})  // A: two words beside the code start
          << HexUpper(0xFFFF) << HexRecord(0, 0xFFFF, {1, 2, 3, 4});  // past the top
    convert(WithEnd(lines));
    const HexImage image = ReadHexImage(path("image.hex"));
    EXPECT_EQ(image.outside_records, 5);
    EXPECT_TRUE(image.carries('B'));
    EXPECT_TRUE(exists("sector_b.txt"));
    EXPECT_EQ(image.word(0x003F7FF6), 7);
}

TEST_F(HexTest, AnUpdateNeedsSectorHAndBothCodeStartWords) {
    const auto refusal = [&](const QStringList& lines) {
        writeFile("image.hex", WithEnd(lines).join("\n").toLatin1());
        try {
            CheckImageForUpdate(ReadHexImage(path("image.hex")));
        } catch (const ImageRefused& e) {
            return e.text();
        }
        return QString();
    };
    const QStringList code_start = HexWords(0x003F7FF6, {0x0041, 0x9000});
    EXPECT_EQ(refusal(HexWords(0x003EA000, {1}) << code_start),
              "The firmware image holds no data for sector H (0x003E8000 to 0x003E9FFF), where "
              "the firmware begins");
    EXPECT_EQ(refusal(HexWords(0x003E8000, {1}) << HexWords(0x003F7FF6, {0x0041})),
              "The firmware image holds no code start: both words at 0x003F7FF6 and 0x003F7FF7 "
              "are needed");
    // Split over two records, the code start is whole.
    EXPECT_EQ(refusal(HexWords(0x003E8000, {1})
                      << HexWords(0x003F7FF6, {0x0041}) << HexWords(0x003F7FF7, {0x9000})),
              "");
}

TEST_F(HexTest, ARunEnteringSectorHFromBelow) {
    QStringList image{HexUpper(0x003E)};
    image << HexRecord(0, 0x7FF8, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8})
          << HexRecord(0, 0x8000, {0xAB, 0xCD});
    convert(WithEnd(image));
    EXPECT_EQ(fileLines("sector_h.txt"), QStringList{"003E8000ABCD"});
}

TEST_F(HexTest, EveryRecordFindsItsOwnSectorAndFilesAreAppendedToWhenEnteredAgain) {
    QStringList image{HexUpper(0x003E)};
    image << HexRecord(0, 0x9FF8, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8})  // last of H
          << HexRecord(0, 0xA000, {0, 9});                                           // first of G
    image << HexUpper(0x003E) << HexRecord(0, 0x8010, {0, 10});                      // H again
    convert(WithEnd(image));
    EXPECT_EQ(fileLines("sector_h.txt"),
              QStringList({"003E9FF800010002000300040005000600070008", "003E8010000A"}));
    EXPECT_EQ(fileLines("sector_g.txt"), QStringList{"003EA0000009"});
}

TEST_F(HexTest, StaleFilesOfAnEarlierConversionAreRemoved) {
    writeFile("sector_g.txt", "003EA0001234\r\n");
    convert(WithEnd(HexWords(0x003E8000, {1})));
    EXPECT_FALSE(exists("sector_g.txt"));
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
    const QStringList image = WithEnd(HexWords(0x003E8000, {1, 2, 3}) << HexWords(0x003EA000, {4}));
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
