// Who the station is: station_name and wigos_id in config.txt, and everywhere
// the station is seen from afar (journal, daily log, metrics, status.json, page).
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include "acquisition/dwell_journal.h"
#include "monitoring/metrics_text.h"
#include "monitoring/status_json.h"
#include "monitoring/status_page.h"
#include "station_fixture.h"

namespace {

using IdentityConfigTest = StationFixture;

TEST_F(IdentityConfigTest, TheNameKeepsItsInnerBlanksAndBothAreEchoed) {
    EXPECT_EQ(refusal(""), "");
    EXPECT_TRUE(station->config.run_config.identity.empty());
    const qsizetype plain = op.messages().size();
    EXPECT_EQ(refusal("station_name =  Andøya  Wind Profiler \nwigos_id = 0-20000-0-12345\n"), "");
    const StationIdentity& identity = station->config.run_config.identity;
    EXPECT_EQ(identity.name, QStringLiteral("Andøya  Wind Profiler"));
    EXPECT_EQ(identity.wigos_id, "0-20000-0-12345");
    EXPECT_EQ(op.messages().mid(plain),
              QStringList({QStringLiteral("station_name: Andøya  Wind Profiler"),
                           "wigos_id: 0-20000-0-12345"}));
    // Known keys: the daily log names none of them as unknown.
    EXPECT_EQ(refusal("station_name = A\nwigos_id = 0-1-0-1\nbufr_dir = out/bufr\n"), "");
    EXPECT_EQ(station->config.run_config.bufr_dir, "out/bufr");
    EXPECT_FALSE(op.kept.join('\n').contains("is not known")) << op.kept.join('\n').toStdString();
}

TEST_F(IdentityConfigTest, AMalformedIdentifierOrNameIsRefusedNamingItsKey) {
    const QString where = " | Key wigos_id in " + path("config.txt");
    for (const char* bad : {"0-20000-0", "0-20000-0-", "1-65535-0-1", "15-1-1-1", "0-2x-0-1",
                            "0-20000-0-12345678901234567", "0-20000-0-12_45", "-0-1-1-1"})
        EXPECT_TRUE(refusal(QStringLiteral("wigos_id = %1\n").arg(bad)).endsWith(where)) << bad;
    EXPECT_EQ(refusal("wigos_id = 0-20000-0-1 2\n"), "");  // blanks go, as in every key
    EXPECT_EQ(station->config.run_config.identity.wigos_id, "0-20000-0-12");
    EXPECT_EQ(refusal("wigos_id = 14-65534-65534-ABCdef0123456789\n"), "");
    EXPECT_TRUE(refusal("station_name = " + QString(65, 'x') + "\n")
                    .endsWith("Key station_name in " + path("config.txt")));
    EXPECT_EQ(refusal("station_name = " + QString(64, 'x') + "\n"), "");
}

TEST_F(IdentityConfigTest, ANewDaysLogBeginsWithTheStationsName) {
    station->log.keepDailyLog(dir.path());
    fixed_time = QDateTime(QDate(2026, 12, 9), QTime(10, 0), QTimeZone::utc());
    EXPECT_EQ(refusal("station_name = Andøya\nwigos_id = 0-578-0-1010\n"), "");
    const QString log = QString::fromUtf8(readFile(station->log.dailyLogPath()));
    EXPECT_TRUE(
        log.startsWith(QStringLiteral("Station Andøya (WIGOS 0-578-0-1010)\n09/12/26 "
                                      "10:00:00: Reading configuration file")))
        << log.toStdString();
    // Once: a file that has lines is not named again, not even by a station
    // started again that day.
    station->log.keepDailyLog(dir.path());
    EXPECT_EQ(refusal("station_name = Andøya\n"), "");
    EXPECT_EQ(QString::fromUtf8(readFile(station->log.dailyLogPath())).count("Station "), 1);
}

TEST(DwellJournalIdentityTest, TheStationGoesBesideTheRadarOnlyWhenNamed) {
    zarv::acquisition::DwellEntry entry;
    entry.data_file = QStringLiteral("/d/20261208120000_beam1.txt");
    entry.wall = QDateTime(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    const auto object = [&] {
        return QJsonDocument::fromJson(zarv::acquisition::DwellJournalLine(entry)).object();
    };
    EXPECT_FALSE(object().contains("station"));
    entry.identity.wigos_id = QStringLiteral("0-20000-0-12345");
    EXPECT_EQ(object().value("station").toObject(), QJsonObject({{"wigos_id", "0-20000-0-12345"}}));
    entry.identity.name = QStringLiteral("Andøya");
    EXPECT_EQ(object().value("station").toObject().value("name").toString(),
              QStringLiteral("Andøya"));
}

TEST(StationFromAfarTest, MetricsStatusAndPageNameTheStation) {
    zarv::monitoring::StationState s;
    s.version = QStringLiteral("1.0");
    const QString nameless = QString::fromUtf8(zarv::monitoring::StatusPage(s));
    EXPECT_TRUE(nameless.contains("<title>Zarv: stopped</title>"));
    EXPECT_TRUE(
        QString::fromUtf8(zarv::monitoring::MetricsText(s))
            .contains(R"(zarv_station_info{station_name="",wigos_id="",version="1.0",host=)"));
    EXPECT_TRUE(QJsonDocument::fromJson(zarv::monitoring::StatusJson(s))
                    .object()
                    .value("station")
                    .toObject()
                    .value("name")
                    .isNull());

    s.station_name = QStringLiteral("Andøya <north> \"A\"");
    s.wigos_id = QStringLiteral("0-20000-0-12345");
    const QString page = QString::fromUtf8(zarv::monitoring::StatusPage(s));
    EXPECT_TRUE(
        page.contains(QStringLiteral("<title>Zarv Andøya &lt;north&gt; &quot;A&quot;: "
                                     "stopped</title>")))
        << page.toStdString();
    const QString metrics = QString::fromUtf8(zarv::monitoring::MetricsText(s));
    EXPECT_TRUE(metrics.contains(QStringLiteral(
        R"(zarv_station_info{station_name="Andøya <north> \"A\"",wigos_id="0-20000-0-12345",)")))
        << metrics.toStdString();
    const QJsonObject station = QJsonDocument::fromJson(zarv::monitoring::StatusJson(s))
                                    .object()
                                    .value("station")
                                    .toObject();
    EXPECT_EQ(station.value("name").toString(), s.station_name);
    EXPECT_EQ(station.value("wigos_id").toString(), s.wigos_id);
}

}  // namespace
