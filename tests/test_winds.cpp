// Winds: consensus averaging, the least-squares wind against a solve written
// here, the profiler on radial velocities made from a known wind, and the live
// winds window on a run of the simulated atmosphere.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <cmath>
#include <limits>

#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "radar/dwell_spectrum.h"
#include "radar/radar_feed.h"
#include "scoped_env.h"
#include "simulator/sim_atmosphere.h"
#include "station_fixture.h"
#include "views/winds_form.h"
#include "views/winds_plots.h"
#include "winds/consensus.h"
#include "winds/wind_feed.h"
#include "winds/wind_profiler.h"
#include "winds/wind_quality.h"
#include "winds/wind_solve.h"

using namespace zarv::winds;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kU = 5, kV = -3, kW = 0.2;
const std::array<double, 3> kZenith{0, 15, 15};
const std::array<double, 3> kAzimuth{0, 90, 0};

double Radial(double zenith, double azimuth, double u, double v, double w) {
    const double z = zenith * M_PI / 180, a = azimuth * M_PI / 180;
    return u * std::sin(z) * std::sin(a) + v * std::sin(z) * std::cos(a) + w * std::cos(z);
}

// The normal equations solved by Gaussian elimination: the oracle.
std::array<double, 3> OracleSolve(const std::vector<BeamRadial>& beams) {
    double m[3][4] = {};
    for (const BeamRadial& b : beams) {
        const double z = b.zenith_deg * M_PI / 180, a = b.azimuth_deg * M_PI / 180;
        const double row[3] = {std::sin(z) * std::sin(a), std::sin(z) * std::cos(a), std::cos(z)};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m[i][j] += row[i] * row[j];
            m[i][3] += row[i] * b.radial;
        }
    }
    for (int c = 0; c < 3; ++c)
        for (int r = c + 1; r < 3; ++r) {
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 4; ++k) m[r][k] -= f * m[c][k];
        }
    std::array<double, 3> x{};
    for (int r = 2; r >= 0; --r) {
        double s = m[r][3];
        for (int k = r + 1; k < 3; ++k) s -= m[r][k] * x[static_cast<std::size_t>(k)];
        x[static_cast<std::size_t>(r)] = s / m[r][r];
    }
    return x;
}

TEST(ConsensusTest, TheLargestAgreeingSetIsKeptWhenItHoldsEnough) {
    Consensus c = ConsensusOf({2.0, 2.5, 1.8, 2.2, 14.0, -9.0, kNaN, 2.1}, 8, 1.0, 0.5);
    EXPECT_EQ(c.count, 5);
    EXPECT_EQ(c.value, 2.1);  // the median of the five kept
    // An aircraft inside the window by chance: the median hardly moves, a mean would.
    EXPECT_EQ(ConsensusOf({2.0, 2.1, 2.2, 2.3, 5.5}, 5, 4.0, 0.5).value, 2.2);
    EXPECT_GT(c.standard_error, 0);
    c = ConsensusOf({1.0, 5.0, 9.0}, 4, 1.0, 0.5);
    EXPECT_TRUE(std::isnan(c.value));
    EXPECT_EQ(c.count, 1);
    // Invalid moments count against the fraction.
    EXPECT_TRUE(std::isnan(ConsensusOf({1.0, 1.1, kNaN, kNaN, kNaN}, 5, 1.0, 0.5).value));
    EXPECT_TRUE(std::isnan(ConsensusOf({}, 0, 1.0, 0.5).value));
    // Half the votes is not more than half.
    c = ConsensusOf({-9.6, 2.4, 2.5, 2.3, 30.0, -20.0}, 6, 4.0, 0.5);
    EXPECT_TRUE(std::isnan(c.value));
    EXPECT_EQ(c.count, 3);
    // Nor is a bird's three against the air's three: a tie.
    EXPECT_TRUE(std::isnan(ConsensusOf({-9.6, -9.5, -9.7, 2.4, 2.5, 2.3}, 6, 4.0, 0.4).value));
    // Two sets as large with nothing in common: a tie keeps neither, however
    // low the fraction asked for.
    EXPECT_TRUE(std::isnan(ConsensusOf({0.0, 0.9, 5.0, 5.1, 20.0}, 5, 1.0, 0.2).value));
    // Two sets as large that share a value: the tighter one.
    EXPECT_NEAR(ConsensusOf({1.0, 1.9, 2.6}, 3, 1.0, 0.5).value, 2.25, 1e-12);
}

TEST(WindSolveTest, AnyBeamsAgreeWithTheOracleAndTooFewGiveNoWind) {
    std::vector<BeamRadial> three;
    for (std::size_t b = 0; b < 3; ++b)
        three.push_back({kZenith[b], kAzimuth[b], Radial(kZenith[b], kAzimuth[b], kU, kV, kW), 1});
    Wind w = SolveWind(three);
    ASSERT_TRUE(w.valid);
    EXPECT_NEAR(w.uvw[0], kU, 1e-9);
    EXPECT_NEAR(w.uvw[1], kV, 1e-9);
    EXPECT_NEAR(w.uvw[2], kW, 1e-9);
    EXPECT_NEAR(WindSpeed(w), std::hypot(kU, kV), 1e-9);
    EXPECT_NEAR(WindFromDirection(w), 301.0, 0.1);  // from the west-north-west
    // Five tilted beams with noise: the least squares is the oracle's.
    const double zen[] = {6, 18, 22, 12, 25}, az[] = {10, 80, 200, 290, 140};
    const double noise[] = {0.1, -0.05, 0.08, -0.12, 0.03};
    std::vector<BeamRadial> five;
    for (int b = 0; b < 5; ++b)
        five.push_back({zen[b], az[b], Radial(zen[b], az[b], 7, 2.5, -0.4) + noise[b], 1});
    w = SolveWind(five);
    const auto oracle = OracleSolve(five);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(w.uvw[i], oracle[i], 1e-9);
    for (const double e : w.error) EXPECT_GT(e, 0);
    three[1].radial = kNaN;  // a beam without consensus
    EXPECT_FALSE(SolveWind(three).valid);
    three[1] = {15, 0, 1.0, 1};  // two beams along one line
    EXPECT_FALSE(SolveWind(three).valid);
}

TEST(WindProfilerTest, PeriodsCloseOnTheNextPeriodsDwellAndBeamsMeetOnOneHeightGrid) {
    WindSettings settings{kZenith, kAzimuth, 60, 1.0, 0.5};
    WindProfiler profiler(settings);
    std::vector<double> ranges;
    for (int g = 0; g < 10; ++g) ranges.push_back(400 + 100.0 * g);
    const QDateTime start(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    for (int dwell = 0; dwell < 30; ++dwell) {
        const int beam = dwell % 3 + 1;
        std::vector<double> radial;
        for (std::size_t g = 0; g < ranges.size(); ++g)
            radial.push_back(Radial(kZenith[beam - 1], kAzimuth[beam - 1], kU, kV, kW));
        if (dwell == 4) radial[0] = 12.0;  // an aircraft in one dwell: outvoted
        profiler.addDwell(start.addSecs(5 * dwell), beam, radial, ranges);
    }
    ASSERT_EQ(profiler.profiles().size(), 2u);  // 12:00 and 12:01; 12:02 is still open
    const WindProfile& p = profiler.profiles().front();
    EXPECT_EQ(p.middle, start.addSecs(30));
    ASSERT_EQ(p.heights_m, ranges);  // the vertical beam's gates
    for (std::size_t h = 0; h < ranges.size(); ++h) {
        // The oblique beams reach 1300 cos 15 = 1256 m: above it there is no wind.
        EXPECT_EQ(p.winds[h].valid, ranges[h] <= 1256) << ranges[h];
        if (!p.winds[h].valid) continue;
        EXPECT_NEAR(p.winds[h].uvw[0], kU, 1e-9);
        EXPECT_NEAR(p.winds[h].uvw[1], kV, 1e-9);
        EXPECT_NEAR(p.winds[h].uvw[2], kW, 1e-9);
    }
    EXPECT_EQ(p.counts[1][0], 3);  // beam 2's dwell 4 was the aircraft's: three of four left
    for (std::size_t h = 0; h < ranges.size(); ++h)
        EXPECT_EQ(p.flags[h], ranges[h] <= 1256 ? 0 : 4) << ranges[h];
    profiler.closePeriod();
    EXPECT_EQ(profiler.profiles().size(), 3u);
    // A period without beam 3 has no wind rather than a wrong one.
    WindProfiler two_beams(settings);
    for (int dwell = 0; dwell < 6; ++dwell) {
        const int beam = dwell % 2 + 1;
        two_beams.addDwell(start.addSecs(5 * dwell), beam, std::vector<double>(ranges.size(), 1.0),
                           ranges);
    }
    two_beams.closePeriod();
    for (const Wind& w : two_beams.profiles().front().winds) EXPECT_FALSE(w.valid);
    // A period that holds only an oblique beam's dwell (a run that ends just
    // after a period began) keeps the grid of every other period.
    WindProfiler tilted_only(settings);
    tilted_only.addDwell(start, 2, std::vector<double>(ranges.size(), 1.0), ranges);
    tilted_only.closePeriod();
    EXPECT_EQ(tilted_only.profiles().front().heights_m, ranges);
}

TEST(WindQualityTest, AWindUnlikeItsNeighboursIsSuspectAndAMissingOneSaysWhy) {
    WindProfile p;
    for (int h = 0; h < 7; ++h) {
        p.heights_m.push_back(500 + 100.0 * h);
        Wind w;
        w.uvw = {5.0 + 0.5 * h, -3, 0};
        w.valid = true;
        p.winds.push_back(w);
    }
    p.flags.assign(7, 0);
    // A bird the consensus let through: 5.5 m/s off its neighbours' median,
    // where their own spread allows 2 + 3 x 1.11 = 5.3.
    p.winds[3].uvw[0] = 12.0;
    p.winds[5].uvw[1] = -1.2;  // 1.8 m/s off: within the limit
    WindProfile judged = p;
    FlagDiscontinuities(judged, nullptr);
    EXPECT_EQ(judged.flags, (std::vector<int>{0, 0, 0, 3, 0, 0, 0}));
    // 4 m/s off is more than 2, but within what the neighbours' spread allows.
    WindProfile sheared = p;
    sheared.winds[3].uvw[0] = 10.5;
    FlagDiscontinuities(sheared, nullptr);
    EXPECT_EQ(sheared.flags, (std::vector<int>{0, 0, 0, 0, 0, 0, 0}));
    // Alone at the top, a wind is judged by the period before.
    const WindProfile before = p;
    p.winds[4].valid = p.winds[5].valid = false;
    p.winds[6].uvw[1] = 3.0;  // 6 m/s off the -3 of the same heights before
    WindProfile alone = p;
    FlagDiscontinuities(alone, nullptr);
    EXPECT_EQ(alone.flags[6], 0);  // no neighbour: not judged
    FlagDiscontinuities(p, &before);
    EXPECT_EQ(p.flags[6], 3);
    EXPECT_EQ(p.flags[3], 3);
    // Why a height has no wind.
    EXPECT_EQ(BeamFlag(false, 4, 4, false), WindFlag::NotDetermined);
    EXPECT_EQ(BeamFlag(true, 0, 0, false), WindFlag::NotDetermined);
    EXPECT_EQ(BeamFlag(true, 4, 0, false), WindFlag::BelowThreshold);
    EXPECT_EQ(BeamFlag(true, 4, 3, false), WindFlag::ConsensusFailed);
    EXPECT_EQ(BeamFlag(true, 4, 3, true), WindFlag::Good);
    EXPECT_EQ(WindlessFlag({WindFlag::ConsensusFailed, WindFlag::BelowThreshold, WindFlag::Good}),
              WindFlag::BelowThreshold);
    EXPECT_EQ(WindlessFlag({WindFlag::Good, WindFlag::ConsensusFailed, WindFlag::Good}),
              WindFlag::ConsensusFailed);
}

TEST(WindSettingsTest, ConfigTxtGivesTheWindsOrSaysWhyNot) {
    TRunConfig config;
    WindSettings s;
    EXPECT_EQ(WindSettingsOf(config, s), "config.txt gives no radar_frequency");
    config.geometry.radar_frequency = 449e6;
    config.geometry.zenith = {0.0, 15.0, 15.0};
    config.geometry.azimuth = {0.0, 90.0, std::nullopt};
    EXPECT_EQ(WindSettingsOf(config, s), "config.txt gives no beam3_zenith and beam3_azimuth");
    config.geometry.azimuth[2] = 90.0;
    EXPECT_EQ(WindSettingsOf(config, s), "the three beams' directions do not determine u, v and w");
    config.geometry.azimuth[2] = 0.0;
    config.geometry.consensus_period = 600;
    EXPECT_EQ(WindSettingsOf(config, s), "");
    EXPECT_EQ(s.period_s, 600);
    EXPECT_EQ(s.window_m_s, kDefaultConsensusWindow);
}

TEST(DwellSpectrumTest, ABirdInTwoOfEightSpectraIsLeftOutOfTheAverage) {
    // Eight spectra of the same air, each a little different, as periodograms are.
    std::vector<std::vector<double>> spectra;
    for (int k = 0; k < 8; ++k) {
        std::vector<double> s(16, 1.0 + 0.1 * k);
        s[10] += 5.0 + 0.3 * (k % 3);  // the echo
        spectra.push_back(s);
    }
    std::vector<double> clean(16, 0.0);
    for (int k : {0, 1, 3, 4, 6, 7})
        for (std::size_t i = 0; i < 16; ++i)
            clean[i] += spectra[static_cast<std::size_t>(k)][i] / 6;
    spectra[2][3] += 400;  // a bird passing through two of them
    spectra[5][4] += 100;
    zarv::radar::DwellSpectrum d = zarv::radar::AverageWithoutIntermittentClutter(spectra);
    EXPECT_EQ(d.stretches, 8);
    EXPECT_EQ(d.kept, 6);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_NEAR(d.power[i], clean[i], 1e-12) << i;
    // Just below the ratio a strong spectrum stays: the air's own spread.
    spectra[2][3] = 23.9 * 1.3;  // the bin's median is 1.3 (1.25 and 1.35 in the middle)
    spectra[5][4] = 1.5;
    EXPECT_EQ(zarv::radar::AverageWithoutIntermittentClutter(spectra).kept, 8);
    // Two spectra have no median to judge by; birds in every spectrum leave nothing.
    spectra.resize(2);
    spectra[1][3] = 1e6;
    EXPECT_EQ(zarv::radar::AverageWithoutIntermittentClutter(spectra).kept, 2);
    std::vector<std::vector<double>> all_birds(3, std::vector<double>(4, 1.0));
    for (std::size_t k = 0; k < 3; ++k) all_birds[k][k] = 1000;
    d = zarv::radar::AverageWithoutIntermittentClutter(all_birds);
    EXPECT_EQ(d.kept, 0);
    EXPECT_TRUE(d.power.empty());
}

TEST(DwellSpectrumTest, StretchesCountFromTheDwellsFirstRecordAndFitWhatIsHeld) {
    zarv::radar::StretchPlan p = zarv::radar::PlanStretches(300, 300, 64);
    EXPECT_EQ(p.stretches, 4u);
    EXPECT_EQ(p.first, 0u);
    // A long dwell: its last 16 whole stretches, still on the dwell's own grid.
    p = zarv::radar::PlanStretches(20000, 16384, 64);
    EXPECT_EQ(p.stretches, 16u);
    EXPECT_EQ(p.first, 18944u);
    // Of which fewer are held: the last whole ones that fit.
    p = zarv::radar::PlanStretches(20000, 500, 64);
    EXPECT_EQ(p.stretches, 7u);
    EXPECT_EQ(p.first, 19520u);
    EXPECT_EQ(20000 - p.first, 7u * 64 + 32);
    p = zarv::radar::PlanStretches(100000, 100000, 64);
    EXPECT_EQ(p.stretches, zarv::radar::StretchPlan::kMostStretches);
    EXPECT_EQ(zarv::radar::PlanStretches(63, 63, 64).stretches, 0u);
}

// The demo's three beams and gates, for the wind feed's tests.
TRunConfig DemoBeams() {
    TRunConfig settings;
    settings.geometry.radar_frequency = 449e6;
    settings.geometry.zenith = {0.0, 15.0, 15.0};
    settings.geometry.azimuth = {0.0, 90.0, 0.0};
    settings.start_time = 3000;
    settings.resolution = 150;
    return settings;
}

TEST(WindFeedTest, TheRunsEndCountsTheRecordsNoLookHasSeen) {
    const TRunConfig settings = DemoBeams();
    zarv::radar::RadarFeed feed(4096, 1.0);
    const QDateTime at(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    WindFeed winds(feed, settings, [&] { return at; });
    ASSERT_FALSE(winds.poll());  // the window's first look, before the run
    // One short dwell on beam 1, over before the window looked again.
    feed.dwellBegins(1);
    const int words = 2 * 4;
    for (int r = 0; r < WindFeed::kPoints * 4; ++r) {
        std::array<int, words> values{};
        for (int w = 0; w < words; ++w) values[static_cast<std::size_t>(w)] = (r * 7 + w * 13) % 41;
        feed.addRecord(values.data(), words, 1000);
    }
    winds.finish();
    ASSERT_EQ(winds.profiler()->profiles().size(), 1u);
    const WindProfile& p = winds.profiler()->profiles().front();
    ASSERT_FALSE(p.counts[0].empty());
    EXPECT_EQ(p.middle, QDateTime(QDate(2026, 12, 8), QTime(12, 15), QTimeZone::utc()));
}

TEST(WindFeedTest, DwellsEndedUnseenCountOnceEachInTheOrderRecorded) {
    const TRunConfig settings = DemoBeams();
    zarv::radar::RadarFeed feed(4096, 1.0);
    const QDateTime at(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    WindFeed winds(feed, settings, [&] { return at; });
    winds.poll();
    std::array<int, 4> values{5, 1, -3, 2};
    // Beams 1 and 2 end while nobody looks; beam 3 is stopped after 10 records.
    for (const auto& [beam, records] : {std::pair{1, 256}, {2, 256}, {3, 10}}) {
        feed.dwellBegins(beam);
        for (int r = 0; r < records; ++r) feed.addRecord(values.data(), 4, 10000);
    }
    winds.finish();
    winds.finish();  // a second end, as when Start is refused: nothing counted twice
    ASSERT_EQ(winds.profiler()->profiles().size(), 1u);
    const WindProfile& p = winds.profiler()->profiles().front();
    ASSERT_FALSE(p.counts[0].empty());
    // One vote each from beams 1 and 2, none from the cut dwell of beam 3.
    EXPECT_EQ(p.counts[0][0], 1);
    EXPECT_EQ(p.counts[1][0], 1);
    EXPECT_EQ(p.counts[2][0], 0);
    EXPECT_EQ(p.flags[0], static_cast<int>(WindFlag::NotDetermined));
}

TEST(WindFeedTest, APlacedDwellIsStampedAtTheMiddleOfItsSpectra) {
    TRunConfig settings;
    settings.geometry.radar_frequency = 449e6;
    settings.geometry.zenith = {0.0, 15.0, 15.0};
    settings.geometry.azimuth = {0.0, 90.0, 0.0};
    settings.geometry.consensus_period = 60;
    zarv::radar::RadarFeed feed(4096, 1.0);
    const QDateTime first(QDate(2026, 12, 8), QTime(12, 0, 55), QTimeZone::utc());
    WindFeed winds(feed, settings, [] { return QDateTime(QDate(2030, 1, 1), QTime(0, 0)); });
    winds.poll();
    feed.dwellBegins(1);
    std::array<int, 2> values{3, -2};
    // 7.84 s of records of 10 ms: 12 stretches of 64, whose middle, 3.84 s after
    // the first record (12:00:58.84), lies in the period 12:00 to 12:01; stamped
    // at the dwell's end it would lie in the next.
    for (int r = 0; r < 12 * 64 + 16; ++r) feed.addRecord(values.data(), 2, 10000);
    feed.dwellPlaced(first);
    winds.finish();
    ASSERT_EQ(winds.profiler()->profiles().size(), 1u);
    EXPECT_EQ(winds.profiler()->profiles().front().middle,
              QDateTime(QDate(2026, 12, 8), QTime(12, 0, 30), QTimeZone::utc()));
}

// The live window on a run of the simulated atmosphere: each ended dwell gives a
// profile of radial velocities, stamped at the middle of its spectra.
class LiveWindsTest : public StationFixture {
  protected:
    // Records the first dwell (beam 1) of the atmosphere into feed.
    void RecordOneDwell(const zarv::sim::SimAtmosphere& atmosphere, zarv::radar::RadarFeed& feed) {
        sim->setAtmosphere(atmosphere, [] { return zarv::sim::SimGeometry{}; });
        zarv::acquisition::AcquisitionRun run(station->log, station->session, station->config);
        run.setRecordSink(&feed);
        const auto stop = [&] { run.stop(); };
        ActWhen one([&] { return sim->triggerStarts() >= 2; }, stop, stop, 30000);
        run.start();
    }
};

TEST_F(LiveWindsTest, TheWindowShowsTheSimulatedWind) {
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=1.3") +
                "radar_frequency=449e6\nbeam1_zenith=0\nbeam1_azimuth=0\nbeam2_zenith=15\n"
                "beam2_azimuth=90\nbeam3_zenith=15\nbeam3_azimuth=0\nconsensus_period=60\n");
    zarv::sim::SimAtmosphere atmosphere;
    atmosphere.wind = {{0, kU, kV, kW}};
    sim->setAtmosphere(atmosphere, [] { return zarv::sim::SimGeometry{}; });
    sim->setNoise(30);
    zarv::radar::RadarFeed feed(4096, 1.0);
    // The station's calendar runs ten times the controller's time: a dwell of
    // 1.3 s is placed 13 s after the last, and periods close.
    const QDateTime start(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    const auto link_time = calendar;
    const QDateTime link_start = link_time();
    calendar = [=] { return start.addMSecs(10 * link_start.msecsTo(link_time())); };
    zarv::views::TWindsForm form(feed, station->config.run_config, [&] { return clock(); });
    zarv::acquisition::AcquisitionRun run(station->log, station->session, station->config);
    run.setRecordSink(&feed);
    const auto stop = [&] { run.stop(); };
    ActWhen enough(
        [&] {
            form.poll();
            return sim->triggerStarts() >= 14;
        },
        stop, stop, 30000);
    run.start();
    form.finishRun();
    // The last period, closed by the run's end, may not hold every beam.
    const auto& profiles = form.windFeed().profiler()->profiles();
    ASSERT_GE(profiles.size(), 3u);
    for (std::size_t i = 0; i + 1 < profiles.size(); ++i) {
        const WindProfile& p = profiles[i];
        ASSERT_FALSE(p.winds.empty());
        const Wind& low = p.winds.front();
        ASSERT_TRUE(low.valid) << p.heights_m.front() << " counts " << p.counts[0][0] << " "
                               << p.counts[1][0] << " " << p.counts[2][0];
        EXPECT_NEAR(low.uvw[0], kU, 0.2);
        EXPECT_NEAR(low.uvw[1], kV, 0.2);
        EXPECT_NEAR(low.uvw[2], kW, 0.2);
    }
    EXPECT_TRUE(form.status_label->text().startsWith("Latest profile: 2026-12-08 12:0"))
        << form.status_label->text().toStdString();
    // The profile plot reads out as the latest profile's text.
    QAccessibleInterface* plot = QAccessible::queryAccessibleInterface(form.profile);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->text(QAccessible::Name), "Latest wind profile");
    EXPECT_EQ(plot->text(QAccessible::Description), zarv::views::ProfileText(profiles.back()));
}

TEST(WindProfileText, SpeedDirectionAndWPerHeight) {
    WindProfile p;
    p.middle = QDateTime(QDate(2026, 12, 8), QTime(12, 30), QTimeZone::utc());
    p.heights_m = {600, 900};
    p.winds.resize(2);
    p.winds[0].uvw = {3, 4, 0.25};  // towards the north-east: from 217 degrees
    p.winds[0].valid = true;
    EXPECT_EQ(zarv::views::ProfileText(p),
              "2026-12-08 12:30 UTC: 0.60 km 5.0 m/s from 217 degrees, w 0.25 m/s; "
              "0.90 km no wind");
    p.flags = {3, 4};  // a wind that does not fit its neighbours is read as suspect
    EXPECT_EQ(zarv::views::ProfileText(p),
              "2026-12-08 12:30 UTC: 0.60 km 5.0 m/s from 217 degrees, w 0.25 m/s, suspect; "
              "0.90 km no wind");
}

TEST_F(LiveWindsTest, SimulatedBirdsFillSomeSpectraOfADwellAndTheAverageLeavesThemOut) {
    // Dwells of 6 s: nine stretches of 64 records of 10 ms; a bird crosses every
    // gate for 1.3 s, starting within the first 2 s of the trigger run: it fills
    // one stretch or two and touches at most four, a minority.
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=6"));
    zarv::sim::SimAtmosphere atmosphere;
    atmosphere.wind = {{0, kU, kV, kW}};
    atmosphere.bird_rate = 1;
    sim->setNoise(30);
    zarv::radar::RadarFeed feed(4096, 1.0);
    RecordOneDwell(atmosphere, feed);
    zarv::radar::RecordWindow window;
    const std::uint64_t records = feed.dwellRecordsOf(1);
    const auto plan = zarv::radar::PlanStretches(records, feed.recordsOf(1), 64);
    ASSERT_EQ(plan.stretches, 9u);
    feed.latest(1, records - plan.first, window);
    zarv::radar::DopplerSpectrum spectrum(64);
    std::vector<std::vector<double>> spectra;
    const double period_s = feed.recordPeriodSeconds();
    const int n = static_cast<int>(plan.stretches);
    for (int g = 1; g <= window.gates; ++g) {
        const auto bird = atmosphere.birdOf(1, g, 0.01);
        ASSERT_TRUE(bird.has_value());
        // The stretches the bird's time touches, and those it fills.
        int touched = 0, filled = 0;
        const double bird_end = bird->start_s + atmosphere.kBirdSeconds;
        for (int k = 0; k < n; ++k) {
            const double from = k * 64 * period_s, to = from + 64 * period_s;
            touched += bird->start_s < to && bird_end > from;
            filled += bird->start_s <= from && bird_end >= to;
        }
        ASSERT_GE(filled, 1);
        spectrum.stretchSpectra(window.gate(g), window.stride(), 0, plan.stretches, spectra);
        const zarv::radar::DwellSpectrum d =
            zarv::radar::AverageWithoutIntermittentClutter(spectra);
        // A stretch the bird only grazes, where the window is near 0, may stay.
        EXPECT_LE(d.kept, n - filled) << "gate " << g << " bird from " << bird->start_s << " s";
        EXPECT_GE(d.kept, n - touched) << "gate " << g;
    }
}

TEST(SimAtmosphereTest, ContaminationComesFromTheEnvironmentAndWhatIsNoneIsSaid) {
    ScopedEnv wind("ZARV_SIM_WIND", "5,-3,0.2");
    {
        ScopedEnv birds("ZARV_SIM_BIRDS", "0.25");
        ScopedEnv clutter("ZARV_SIM_CLUTTER", "800");
        ScopedEnv line("ZARV_SIM_INTERFERENCE", "-31.25,1500");
        const auto a = zarv::sim::SimAtmosphere::FromEnvironment();
        ASSERT_TRUE(a.has_value());
        EXPECT_EQ(a->bird_rate, 0.25);
        EXPECT_EQ(a->clutter, 800);
        EXPECT_EQ(a->interference_hz, -31.25);
        EXPECT_EQ(a->interference, 1500);
    }
    ScopedEnv birds("ZARV_SIM_BIRDS", "many");
    ScopedEnv line("ZARV_SIM_INTERFERENCE", "50");
    testing::internal::CaptureStderr();
    const auto a = zarv::sim::SimAtmosphere::FromEnvironment();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(a->bird_rate, 0);
    EXPECT_EQ(a->interference, 0);
    EXPECT_NE(said.find("ZARV_SIM_BIRDS ignored: 'many' is not a share from 0 to 1"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("ZARV_SIM_INTERFERENCE ignored"), std::string::npos) << said;
}

TEST_F(LiveWindsTest, GroundClutterAndAnInterferenceLineAreInEveryGate) {
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=1.3"));
    zarv::sim::SimAtmosphere atmosphere;
    atmosphere.wind = {{0, kU, kV, kW}};
    atmosphere.clutter = 1500;
    atmosphere.interference_hz = -31.25;  // a bin of 64 at 10 ms records: bin 12
    atmosphere.interference = 1500;
    zarv::radar::RadarFeed feed(4096, 1.0);
    RecordOneDwell(atmosphere, feed);
    zarv::radar::RecordWindow window;
    feed.latest(1, 64, window);
    ASSERT_EQ(window.records, 64u);
    zarv::radar::DopplerSpectrum spectrum(64);
    std::vector<double> power;
    for (int g = 1; g <= window.gates; ++g) {
        spectrum.compute(window.gate(g), window.records, window.stride(), 1, power);
        std::vector<std::size_t> order(power.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](auto a, auto b) { return power[a] > power[b]; });
        // Integrating 10 pulses keeps 0 Hz whole and the line nearly so: they stand out.
        EXPECT_EQ(order[0], 32u) << g;  // 0 Hz
        EXPECT_EQ(order[1], 12u) << g;
    }
}

TEST_F(LiveWindsTest, TheWindowSaysWhyThereAreNoWindsOrWhatItWaitsFor) {
    zarv::radar::RadarFeed feed(4096, 1.0);
    TRunConfig& config = station->config.run_config;
    zarv::views::TWindsForm form(feed, config);
    EXPECT_EQ(form.status_label->text(), "No winds: config.txt gives no radar_frequency");
    config.geometry.radar_frequency = 449e6;
    config.geometry.zenith = {0.0, 15.0, 15.0};
    config.geometry.azimuth = {0.0, 90.0, 0.0};
    form.poll();  // config.txt read again at a Start
    EXPECT_EQ(form.status_label->text(),
              "Waiting for the first consensus period to close (consensus over 30 min, window 4 "
              "m/s, at least 50 %)");
}

}  // namespace
