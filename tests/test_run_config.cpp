#include <QElapsedTimer>
#include <QFileInfo>

#include "station/run_config.h"
#include "station/station_error.h"
#include "station_fixture.h"

using namespace zarv::station;

namespace {
class ConfigTest : public StationFixture {
  protected:
    QString value(const QString& key) { return GetConfigValue(path("config.txt"), key); }
    QString errorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const StationError& e) {
            return e.text();
        }
        return QString();
    }
};

TEST_F(ConfigTest, LineSyntax) {
    writeConfig(
        "ipp_old=5\nIPP = 3 00\n gates=4\nGaTeS 4\nintegrations=4=5\ndata_dir=a b\tc\n"
        "QP_FREQUENCY=7\r\ndwell_time=\r\n");
    EXPECT_EQ(value("ipp"), "5");         // the first line that begins with the key counts
    EXPECT_EQ(value("gates"), "GaTeS4");  // key at column 1 only; no "=" gives the line
    EXPECT_EQ(value("integrations"), "4=5");
    EXPECT_EQ(value("data_dir"), "ab\tc");  // blanks go, tabs stay
    EXPECT_EQ(value("QP_frequency"), "7");
    EXPECT_EQ(value("dwell_time"), "");
    EXPECT_EQ(value("relay_swith_time"), "");
}

TEST_F(ConfigTest, CaseFoldsOnlyAsciiLetters) {
    writeConfig(QString::fromUtf8("\xC3\xA9pp=1\nipp=2\n"));
    EXPECT_EQ(value(QString::fromUtf8("\xC3\x89pp")), "");
    EXPECT_EQ(value("IPP"), "2");
}

TEST(ConfigNumbers, Integers) {
    EXPECT_EQ(ParseConfigInteger("300"), 300);
    EXPECT_EQ(ParseConfigInteger("-12"), -12);
    EXPECT_EQ(ParseConfigInteger("+7"), 7);
    EXPECT_EQ(ParseConfigInteger("$FF"), 255);
    EXPECT_EQ(ParseConfigInteger("0x7fffffff"), 2147483647);
    EXPECT_EQ(ParseConfigInteger("0X10"), 16);
    EXPECT_EQ(ParseConfigInteger("-2147483648"), INT32_MIN);
    EXPECT_FALSE(ParseConfigInteger("2147483648"));
    EXPECT_FALSE(ParseConfigInteger("$80000000"));
    EXPECT_FALSE(ParseConfigInteger(""));
    EXPECT_FALSE(ParseConfigInteger("4=5"));
    EXPECT_FALSE(ParseConfigInteger("0x"));
    EXPECT_FALSE(ParseConfigInteger("12a"));
    EXPECT_FALSE(ParseConfigInteger("1\t"));
    EXPECT_FALSE(ParseConfigInteger("99999999999999999999"));
}

TEST(ConfigNumbers, FloatsAndTheirEcho) {
    EXPECT_EQ(ParseConfigFloat("2.5"), 2.5);
    EXPECT_EQ(ParseConfigFloat("1e3"), 1000.0);
    EXPECT_EQ(ParseConfigFloat("-0.5E-1"), -0.05);
    EXPECT_EQ(ParseConfigFloat(".5"), 0.5);
    for (const char* bad : {"", "inf", "nan", "INF", "1e999", "2,5", "0x10", "1.2.3", "+-1", "--1"})
        EXPECT_FALSE(ParseConfigFloat(bad)) << bad;
    EXPECT_EQ(FormatGeneral(2.5), "2.5");
    EXPECT_EQ(FormatGeneral(10), "10");
    EXPECT_EQ(FormatGeneral(0.5), "0.5");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatGeneral(1e20), "1E20");
    EXPECT_EQ(FormatGeneral(1e-5), "1E-5");
}

TEST_F(ConfigTest, ReadConfigEchoesEveryKeyWithOneTimeStamp) {
    fixed_time = QDateTime(QDate(2026, 12, 6), QTime(18, 31, 29));
    writeConfig(DefaultConfigText(path("data"))
                    .replace("integrations=10", "integrations=0")
                    .replace("dwell_time=0.6", "dwell_time=2.5"));
    op.log << "old line";
    station->config.ReadConfig();
    ASSERT_EQ(op.log.size(), 25);
    EXPECT_EQ(op.log[0],
              "06/12/26 18:31:29: Reading configuration file [" + path("config.txt") + "]");
    EXPECT_EQ(op.log[1], "06/12/26 18:31:29: tx enable: 1");
    EXPECT_EQ(op.log[2], "06/12/26 18:31:29: integrations: 1");
    EXPECT_EQ(op.log[3], "06/12/26 18:31:29: dwell_time: 2.5");
    EXPECT_EQ(op.log[4], "06/12/26 18:31:29: data_dir: " + path("data"));
    EXPECT_EQ(op.log[24], "06/12/26 18:31:29: test_level: 1024");
    EXPECT_EQ(station->config.run_config.integrations, 1);
    EXPECT_EQ(station->config.run_config.QP_frequency, 30000000);
    EXPECT_TRUE(QFileInfo(path("data/2026/12/06/18")).isDir());
}

TEST_F(ConfigTest, AMisspeltKeyIsNamedInTheDailyLogWithTheNearestKnownOne) {
    fixed_time = QDateTime(QDate(2026, 12, 6), QTime(18, 31, 29));
    writeConfig("Notes: snr in dB, times = seconds.\n" + DefaultConfigText(path("data")) +
                "snr_treshold = 5\nDC_Notch = 2\nconsensus_windw=2\n# comment = fine\n");
    station->config.ReadConfig();  // not refused
    const QString said =
        "06/12/26 18:31:29: config.txt: the key %1 is not known and is ignored "
        "(the nearest known key is %2)";
    EXPECT_EQ(op.kept, QStringList({said.arg("snr_treshold", "snr_threshold"),
                                    said.arg("consensus_windw", "consensus_window")}))
        << op.kept.join('\n').toStdString();
    EXPECT_TRUE(op.messages().filter("not known").isEmpty());  // not in the window's log
    EXPECT_EQ(station->config.run_config.gates, 4);
}

TEST_F(ConfigTest, DwellTimeIsEchoedWithoutFractionOrWithAllItsDigits) {
    replaceConfigLine("dwell_time", "dwell_time=10");
    station->config.ReadConfig();
    EXPECT_TRUE(op.messages().contains("dwell_time: 10"));
    replaceConfigLine("dwell_time", "dwell_time=0.123456789012");
    station->config.ReadConfig();
    EXPECT_TRUE(op.messages().contains("dwell_time: 0.123456789012")) << op.messages().join('|');
}

TEST_F(ConfigTest, MissingFileLeavesOnlyTheAnnouncingLine) {
    EXPECT_EQ(errorOf([&] { station->config.ReadConfig(); }), "File not found");
    ASSERT_EQ(op.log.size(), 1);
    EXPECT_TRUE(op.log[0].endsWith("Reading configuration file [" + path("config.txt") + "]"));
}

TEST_F(ConfigTest, FailingKeyStopsAndKeepsEarlierKeys) {
    replaceConfigLine("pulse_length", "pulse_length=12x");
    station->config.run_config.ipp = 77;
    station->config.run_config.gates = 99;
    EXPECT_EQ(errorOf([&] { station->config.ReadConfig(); }), "'12x' is not a valid integer value");
    EXPECT_EQ(station->config.run_config.ipp, 1000);  // read before the failure
    EXPECT_EQ(station->config.run_config.gates, 99);  // never reached
    EXPECT_EQ(LastOf(op.messages()), "ipp: 1000");
    EXPECT_FALSE(QFileInfo::exists(path("data")));  // no directory created
}

TEST_F(ConfigTest, MissingKeyTexts) {
    replaceConfigLine("ipp", "#ipp=300");
    EXPECT_EQ(errorOf([&] { station->config.ReadConfig(); }), "'' is not a valid integer value");
    replaceConfigLine("dwell_time", "dwell_time=inf");
    EXPECT_EQ(errorOf([&] { station->config.ReadConfig(); }),
              "'inf' is not a valid floating point value");
    replaceConfigLine("ipp", "ipp=99999999999");
    EXPECT_EQ(errorOf([&] { station->config.ReadConfig(); }),
              "'99999999999' is not a valid integer value");
}

TEST_F(ConfigTest, BinaryGarbageIsABadValueNotACrash) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>((i * 37 + 11) % 256));
    writeFile("config.txt", "tx_enable=\x01\xFF\x00" + garbage);
    EXPECT_TRUE(
        errorOf([&] { station->config.ReadConfig(); }).endsWith("is not a valid integer value"));
}

TEST_F(ConfigTest, TwoReadingsInOneHourAndANewHour) {
    writeDefaultConfig();
    fixed_time = QDateTime(QDate(2026, 12, 31), QTime(23, 10, 0));
    station->config.ReadConfig();
    station->config.ReadConfig();
    EXPECT_EQ(QDir(path("data/2026/12/31")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"23"});
    fixed_time = QDateTime(QDate(2027, 1, 1), QTime(0, 0, 5));
    const QString stem = station->config.MakeDataFileStem();
    EXPECT_EQ(stem, path("data/2027/01/01/00/20270101000005"));
    EXPECT_TRUE(QFileInfo(path("data/2027/01/01/00")).isDir());
}

TEST_F(ConfigTest, TextIsReadAsUtf8AndLatin1StillWorks) {
    const QString dir = path("données");
    writeFile("config.txt", DefaultConfigText(dir).toUtf8());
    station->config.ReadConfig();
    EXPECT_EQ(station->config.run_config.data_dir, dir);
    EXPECT_TRUE(op.messages().contains("data_dir: " + dir));
    EXPECT_TRUE(QFileInfo(dir).isDir());  // the name as written, not its bytes as Latin-1
    writeFile("config.txt", DefaultConfigText(path("caf\u00e9")).toLatin1());  // saved in Latin-1
    station->config.ReadConfig();
    EXPECT_EQ(station->config.run_config.data_dir, path("caf\u00e9"));
}

TEST_F(ConfigTest, AFourMegabyteNoteLineLeavesTheKeysAsTheyAre) {
    const QByteArray note = "note=" + QByteArray(4 << 20, 'x') + "\n";
    writeFile("config.txt", note + DefaultConfigText(path("data")).toLatin1());
    QElapsedTimer t;
    t.start();
    station->config.ReadConfig();
    EXPECT_EQ(station->config.run_config.gates, 4);
    EXPECT_EQ(op.log.size(), 25);
    RecordProperty("read_ms", static_cast<int>(t.elapsed()));
}

TEST_F(ConfigTest, UnreachableDataDirectoryIsSilent) {
    writeConfig(DefaultConfigText("/proc/no/such/place"));
    station->config.ReadConfig();
    EXPECT_EQ(op.log.size(), 25);
    EXPECT_TRUE(op.errors.isEmpty());
}
}  // namespace
