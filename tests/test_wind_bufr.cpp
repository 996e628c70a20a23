// The live station's BUFR winds: a period's message decoded again by ecCodes,
// and the files a recording station writes as its periods close.
#include <eccodes.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTimeZone>
#include <cmath>
#include <limits>
#include <memory>

#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "products/bufr_outbox.h"
#include "products/wind_bufr.h"
#include "radar/radar_feed.h"
#include "simulator/sim_atmosphere.h"
#include "station_fixture.h"
#include "winds/wind_profiler.h"
#include "winds/wind_quality.h"

using namespace zarv::products;
using zarv::winds::WindFlag;
using zarv::winds::WindProfile;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A message's data section read back by ecCodes.
class Decoded {
  public:
    explicit Decoded(const QByteArray& message)
        : h_(codes_handle_new_from_message_copy(nullptr, message.constData(),
                                                static_cast<std::size_t>(message.size())),
             &codes_handle_delete) {
        if (h_) codes_set_long(h_.get(), "unpack", 1);
    }
    bool ok() const { return h_ != nullptr; }
    long integer(const char* key) const {
        long value = -1;
        return codes_get_long(h_.get(), key, &value) == CODES_SUCCESS ? value : -999;
    }
    // NaN where the value is coded missing.
    double number(const char* key) const {
        double value = 0;
        if (codes_get_double(h_.get(), key, &value) != CODES_SUCCESS) return -999;
        return value == CODES_MISSING_DOUBLE ? kNaN : value;
    }
    bool missing(const char* key) const {
        int error = 0;
        return codes_is_missing(h_.get(), key, &error) == 1 && error == 0;
    }
    QByteArray text(const char* key) const {
        char buffer[64] = {};
        std::size_t length = sizeof buffer;
        return codes_get_string(h_.get(), key, buffer, &length) == CODES_SUCCESS
                   ? QByteArray(buffer).trimmed()
                   : QByteArray();
    }

  private:
    std::unique_ptr<codes_handle, int (*)(codes_handle*)> h_;
};

TRunConfig PlacedStation(const QString& wigos) {
    TRunConfig s;
    s.identity.wigos_id = wigos;
    s.geometry.radar_frequency = 1290e6;
    s.geometry.station_latitude = 69.2999;
    s.geometry.station_longitude = -16.03125;
    s.geometry.station_altitude = 380;
    return s;
}

WindProfile ThreeHeights() {
    WindProfile p;
    p.middle = QDateTime(QDate(2026, 12, 9), QTime(11, 45), QTimeZone::utc());
    p.heights_m = {500, 650, 800};
    for (int k = 0; k < 3; ++k) {
        zarv::winds::Wind w;
        w.uvw = {5.04 + k, -3.0, 0.123};
        w.valid = true;
        p.winds.push_back(w);
    }
    p.flags = {static_cast<int>(WindFlag::Good), static_cast<int>(WindFlag::ContaminationSuspected),
               static_cast<int>(WindFlag::ConsensusFailed)};
    p.winds[2].valid = false;
    return p;
}

TEST(WindBufrTest, APeriodDecodesToItsWindsStationAndTime) {
    QString error;
    const QByteArray message =
        WindBufrMessage(ThreeHeights(), PlacedStation("0-20000-0-01010"), 1800, &error);
    ASSERT_FALSE(message.isEmpty()) << error.toStdString();
    const Decoded m(message);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.integer("edition"), 4);
    EXPECT_EQ(m.integer("dataCategory"), 2);
    EXPECT_EQ(m.integer("unexpandedDescriptors"), kWindProfilerSequence);
    EXPECT_EQ(m.integer("wigosIssuerOfIdentifier"), 20000);
    EXPECT_EQ(m.text("wigosLocalIdentifierCharacter"), "01010");
    EXPECT_EQ(m.integer("blockNumber"), 1);  // a WMO station number: 01 010
    EXPECT_EQ(m.integer("stationNumber"), 10);
    EXPECT_NEAR(m.number("#1#latitude"), 69.2999, 1e-5);
    EXPECT_NEAR(m.number("#1#longitude"), -16.03125, 1e-5);
    // Stamped at the period's end (12:00), averaged over the 30 minutes before.
    EXPECT_EQ(m.integer("hour"), 12);
    EXPECT_EQ(m.integer("minute"), 0);
    EXPECT_EQ(m.integer("timePeriod"), -30);
    EXPECT_EQ(m.integer("#2#timeSignificance"), 2);
    EXPECT_NEAR(m.number("meanFrequency"), 1290e6, 1e6);
    // Heights above sea level; a good wind to the coding's step, the rest missing.
    EXPECT_EQ(m.integer("#1#height"), 880);
    EXPECT_EQ(m.integer("#3#height"), 1180);
    EXPECT_NEAR(m.number("#1#u"), 5.0, 1e-9);
    EXPECT_NEAR(m.number("#1#v"), -3.0, 1e-9);
    EXPECT_NEAR(m.number("#1#w"), 0.12, 1e-9);
    EXPECT_EQ(m.integer("#1#qualityInformation"), 0);
    EXPECT_TRUE(std::isnan(m.number("#2#u")) && std::isnan(m.number("#2#w")));
    EXPECT_EQ(m.integer("#3#qualityInformation"), 1);  // suspect: said so
    EXPECT_TRUE(std::isnan(m.number("#3#v")));
    EXPECT_TRUE(m.missing("#5#qualityInformation"));  // no wind: no quality either
    EXPECT_EQ(m.integer("#1#verticalResolution"), 150);
}

TEST(WindBufrTest, AnIdentifierOfItsOwnLeavesTheWmoNumbersMissingAndNeedsAreNamed) {
    QString error;
    const Decoded m(WindBufrMessage(ThreeHeights(), PlacedStation("0-578-0-ZARV1"), 1800, &error));
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.text("wigosLocalIdentifierCharacter"), "ZARV1");
    EXPECT_TRUE(m.missing("blockNumber") && m.missing("stationNumber"));

    TRunConfig nameless = PlacedStation(QString());
    nameless.geometry.station_altitude.reset();
    EXPECT_EQ(BufrNeeds(nameless), QStringList({"wigos_id", "station_altitude"}));
    EXPECT_TRUE(WindBufrMessage(ThreeHeights(), nameless, 1800, &error).isEmpty());
    EXPECT_EQ(error, "config.txt gives no wigos_id, station_altitude");
    EXPECT_EQ(BufrFileName("0-578-0-ZARV1",
                           QDateTime(QDate(2026, 12, 9), QTime(12, 0), QTimeZone::utc())),
              "zarv_0-578-0-ZARV1_202612091200.bufr");
}

// A recording station with bufr_dir: each period's message is written as it
// closes, taken as each dwell is placed, without any timer looking.
class LiveBufrTest : public StationFixture {
  protected:
    void record(const QString& extra, int dwells) {
        writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=1.3") +
                    "radar_frequency=449e6\nbeam1_zenith=0\nbeam1_azimuth=0\nbeam2_zenith=15\n"
                    "beam2_azimuth=90\nbeam3_zenith=15\nbeam3_azimuth=0\nconsensus_period=60\n"
                    "bufr_dir=" +
                    path("bufr") + "\n" + extra);
        zarv::sim::SimAtmosphere atmosphere;
        atmosphere.wind = {{0, 5, -3, 0.2}};
        sim->setAtmosphere(atmosphere, [] { return zarv::sim::SimGeometry{}; });
        sim->setNoise(30);
        // The calendar runs ten times the controller's time: periods close.
        const QDateTime start(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
        const auto link_time = calendar;
        const QDateTime link_start = link_time();
        calendar = [=] { return start.addMSecs(10 * link_start.msecsTo(link_time())); };
        zarv::radar::RadarFeed feed(4096, 1.0);
        BufrOutbox outbox(feed, station->config.run_config, station->log, [&] { return clock(); });
        zarv::acquisition::AcquisitionRun run(station->log, station->session, station->config);
        run.setRecordSink(&feed);
        const auto stop = [&] { run.stop(); };
        ActWhen enough([&] { return sim->triggerStarts() >= dwells; }, stop, stop, 30000);
        run.start();
        outbox.finishRun();
    }
    QStringList written() const {
        return QDir(path("bufr")).entryList({"zarv_*.bufr"}, QDir::Files, QDir::Name);
    }
};

TEST_F(LiveBufrTest, EachClosedPeriodIsWrittenAsItCloses) {
    record(
        "wigos_id=0-20000-0-01010\nstation_latitude=69.3\nstation_longitude=16.03\n"
        "station_altitude=380\n",
        14);
    const QStringList files = written();
    // 14 dwells of 13 s of the calendar: three whole periods and the run's last.
    ASSERT_GE(files.size(), 3) << op.messages().join('\n').toStdString();
    EXPECT_EQ(files.front(), "zarv_0-20000-0-01010_202612081201.bufr");
    for (const QString& name : files.mid(0, files.size() - 1)) {
        QFile file(path("bufr/") + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const Decoded m(file.readAll());
        ASSERT_TRUE(m.ok()) << name.toStdString();
        EXPECT_NEAR(m.number("#1#u"), 5, 0.2) << name.toStdString();
        EXPECT_NEAR(m.number("#1#v"), -3, 0.2) << name.toStdString();
        EXPECT_EQ(m.integer("#1#qualityInformation"), 0);
    }
    EXPECT_EQ(op.messages().filter("BUFR message written: ").size(), files.size());
}

TEST_F(LiveBufrTest, WithoutItsIdentityTheStationSaysOnceWhyItWritesNone) {
    record("", 10);
    EXPECT_TRUE(written().isEmpty());
    EXPECT_EQ(op.messages()
                  .filter("No BUFR winds: config.txt gives no wigos_id, station_latitude, "
                          "station_longitude, station_altitude")
                  .size(),
              1)
        << op.messages().join('\n').toStdString();
}

}  // namespace
