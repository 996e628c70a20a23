// The radar in physical units: the geometry keys of config.txt and the dwell
// journal that keeps them, range and velocity axes, the moments of echoes whose
// truth the test sets, and the simulated controller's thermal noise.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cmath>
#include <random>

#include "acquisition/dwell_journal.h"
#include "radar/doppler_spectrum.h"
#include "radar/radar_axes.h"
#include "radar/spectral_moments.h"
#include "simulator/sim_waveform.h"
#include "station_fixture.h"
#include "test_support.h"

using namespace zarv::radar;
using namespace zarv::station;

namespace {

using GeometryConfigTest = StationFixture;

TEST_F(GeometryConfigTest, KeysAreOptionalEchoedWhenSetAndKeptAsNumbers) {
    EXPECT_EQ(refusal(""), "");
    const QStringList plain = op.messages();
    EXPECT_EQ(station->config.run_config.geometry, RadarGeometry{});
    EXPECT_EQ(refusal("radar_frequency = 449e6\nbeam2_zenith = 15\nbeam2_azimuth = 90\n"
                      "station_latitude = -33.5\nsnr_threshold = -12.5\ndc_notch = 2\n"),
              "");
    const RadarGeometry& g = station->config.run_config.geometry;
    EXPECT_EQ(g.radar_frequency, 449e6);
    EXPECT_EQ(g.zenith[1], 15.0);
    EXPECT_EQ(g.azimuth[1], 90.0);
    EXPECT_FALSE(g.zenith[0].has_value());
    EXPECT_EQ(g.station_latitude, -33.5);
    EXPECT_EQ(g.snr_threshold, -12.5);
    EXPECT_EQ(g.dc_notch, 2);
    const QStringList echoed = op.messages().mid(plain.size());
    EXPECT_EQ(echoed,
              QStringList({"radar_frequency: 449000000", "beam2_zenith: 15", "beam2_azimuth: 90",
                           "station_latitude: -33.5", "snr_threshold: -12.5", "dc_notch: 2"}));
}

TEST_F(GeometryConfigTest, AValueOutOfRangeIsRefusedNamingItsKey) {
    EXPECT_EQ(refusal("beam3_zenith = 91\n"),
              "'91' is not a number from 0 to 90 | Key beam3_zenith in " + path("config.txt"));
    EXPECT_EQ(refusal("radar_frequency = -5\n"),
              "'-5' is not a number from 1000 to 1000000000000 | Key radar_frequency in " +
                  path("config.txt"));
    EXPECT_TRUE(refusal("station_longitude = east\n").startsWith("'east' is not a number"));
    EXPECT_TRUE(refusal("dc_notch = 17\n").endsWith("Key dc_notch in " + path("config.txt")));
    EXPECT_EQ(refusal("dc_notch = 16\nrange_offset = -250\n"), "");
}

TEST(DwellJournalTest, TheGeometryGoesBesideTheTimingOnlyWhenSet) {
    zarv::acquisition::DwellEntry entry;
    entry.data_file = QStringLiteral("/d/20261208120000_beam1.txt");
    entry.wall = QDateTime(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    const auto object = [&] {
        return QJsonDocument::fromJson(zarv::acquisition::DwellJournalLine(entry)).object();
    };
    EXPECT_FALSE(object().contains("radar"));
    entry.geometry.radar_frequency = 449e6;
    entry.geometry.azimuth[2] = 270;
    entry.geometry.dc_notch = 1;
    const QJsonObject radar = object().value("radar").toObject();
    EXPECT_EQ(radar.keys(), QStringList({"beam3_azimuth", "dc_notch", "radar_frequency"}));
    EXPECT_EQ(radar.value("radar_frequency").toDouble(), 449e6);
    EXPECT_EQ(radar.value("beam3_azimuth").toDouble(), 270);
}

TEST(RadarAxesTest, RangeVelocityAndNyquistFromKnownGeometry) {
    // 1 us after the pulse is 149.9 m; a 200 ns system delay comes off it.
    EXPECT_NEAR(GateRangeMetres(1, 1000, 150, 0), 149.896, 1e-3);
    EXPECT_NEAR(GateRangeMetres(3, 1000, 150, 200), kSpeedOfLight * 1.1e-6 / 2, 1e-6);
    EXPECT_NEAR(HeightMetres(1000, 60), 500, 1e-9);
    // At 449 MHz (lambda 0.6677 m), +10 Hz is an echo coming closer at 3.34 m/s.
    EXPECT_NEAR(RadialVelocity(10, 449e6), -3.3384, 1e-4);
    EXPECT_NEAR(NyquistVelocity(0.01, 449e6), 16.692, 1e-3);

    TRunConfig settings;
    settings.start_time = 3000;
    settings.resolution = 150;
    EXPECT_FALSE(AxesOf(settings).physical());
    EXPECT_EQ(AxesOf(settings).gatePosition(4), 4);
    EXPECT_EQ(AxesOf(settings).dopplerPosition(-7), -7);
    settings.geometry.radar_frequency = 449e6;
    settings.geometry.range_offset = 1000;
    const RadarAxes axes = AxesOf(settings);
    EXPECT_NEAR(axes.gatePosition(1), kSpeedOfLight * 2e-6 / 2 / 1000, 1e-9);
    EXPECT_NEAR(axes.gatePosition(3) - axes.gatePosition(2), kSpeedOfLight * 150e-9 / 2000, 1e-9);
    EXPECT_NEAR(axes.dopplerPosition(10), -3.3384, 1e-4);
}

// An echo of Gaussian spectrum (power, mean, width known) in white noise of
// known power, summed from tones here rather than made by the code under test.
std::vector<Complex> Echo(std::mt19937& random, int count, double period_s, double snr_db,
                          double mean_hz, double width_hz, double noise_power) {
    const double span = 1 / period_s;
    const double step = span / count;
    std::normal_distribution<double> gauss(0, 1);
    std::vector<std::pair<double, Complex>> tones;
    double shape_sum = 0;
    for (int k = -count / 2; k < count / 2; ++k) {
        const double f = mean_hz + k * step;
        const double shape = std::exp(-0.5 * std::pow(k * step / width_hz, 2));
        if (shape < 1e-6) continue;
        tones.emplace_back(f, Complex(gauss(random), gauss(random)) * std::sqrt(shape / 2));
        shape_sum += shape;
    }
    const double scale = std::sqrt(noise_power * std::pow(10, snr_db / 10) / shape_sum);
    std::vector<Complex> x(static_cast<std::size_t>(count));
    const double sigma = std::sqrt(noise_power / 2);
    for (int n = 0; n < count; ++n) {
        Complex v(gauss(random) * sigma, gauss(random) * sigma);
        for (const auto& [f, a] : tones)
            v += scale * a * std::polar(1.0, 2 * M_PI * f * n * period_s);
        x[static_cast<std::size_t>(n)] = v;
    }
    return x;
}

SpectralMoments MomentsOfEcho(std::mt19937& random, double snr_db, const MomentOptions& options,
                              double clutter = 0) {
    constexpr int kPoints = 128, kBlocks = 8;
    auto x = Echo(random, kPoints * kBlocks, 0.01, snr_db, 10, 2, 100);
    for (Complex& v : x) v += clutter;
    DopplerSpectrum spectrum(kPoints);
    std::vector<double> power;
    spectrum.compute(x.data(), x.size(), kBlocks, power);
    return MomentsOf(power, kBlocks, 0.01, options);
}

TEST(EchoMomentsTest, AWeakEchoKeepsItsMeanWidthAndSnrAndNoiseStaysOut) {
    std::mt19937 random(17);
    for (const double snr_db : {10.0, 0.0}) {
        int close = 0;
        for (int gate = 0; gate < 10; ++gate) {
            const SpectralMoments m = MomentsOfEcho(random, snr_db, {});
            EXPECT_TRUE(m.valid);
            close += std::abs(m.mean_hz - 10) < 0.6 && std::abs(m.width_hz - 2) < 0.45 &&
                     std::abs(m.snr_db - snr_db) < 1.5;
        }
        EXPECT_GE(close, 9) << snr_db;
    }
    for (int gate = 0; gate < 20; ++gate) {
        const SpectralMoments noise = MomentsOfEcho(random, -300, {});
        EXPECT_TRUE(noise.measured);
        EXPECT_FALSE(noise.valid);
        EXPECT_LT(noise.snr_db, noise.threshold_db);
    }
}

TEST(EchoMomentsTest, TheDefaultThresholdTrustsAtMostOneNoiseSpectrumInAHundred) {
    // The same numbers as the Python package's, at sizes the station offers.
    EXPECT_NEAR(NoiseOnlyThresholdDb(64, 4), -6.922, 1e-3);
    EXPECT_NEAR(NoiseOnlyThresholdDb(64, 16), -10.507, 1e-3);
    EXPECT_NEAR(NoiseOnlyThresholdDb(16, 1), 5.259, 1e-3);
    EXPECT_NEAR(NoiseOnlyThresholdDb(1024, 256), -28.000, 1e-3);
    std::mt19937 random(23);
    std::normal_distribution<double> gauss(0, 1);
    for (const auto& [points, spectra] : {std::pair{16, 1}, {64, 4}, {256, 16}}) {
        DopplerSpectrum spectrum(points);
        std::vector<double> power;
        std::vector<Complex> x(static_cast<std::size_t>(points * spectra));
        int trusted = 0;
        constexpr int kTrials = 1000;
        for (int t = 0; t < kTrials; ++t) {
            for (Complex& v : x) v = Complex(gauss(random), gauss(random));
            spectrum.compute(x.data(), x.size(), spectra, power);
            trusted += MomentsOf(power, spectra, 0.01).valid ? 1 : 0;
        }
        EXPECT_LE(trusted, kTrials / 100) << points << " x " << spectra;
    }
}

// Spectra written out bin by bin: 16 bins of 6.25 Hz from -50 Hz (bin 0) up,
// a noise level of exactly 1, and echoes whose moments are worked out by hand.
std::vector<double> FlatSpectrum(std::initializer_list<std::pair<int, double>> bins) {
    std::vector<double> power(16, 1.0);
    for (const auto& [bin, value] : bins) power[static_cast<std::size_t>(bin)] = value;
    return power;
}

TEST(EchoMomentsTest, LiteralSpectraAtTheFoldTheNotchsEdgesAndTheRegionsEnds) {
    // Astride the fold: 4 over the noise from +37.5 Hz up to -43.75 Hz. The mean
    // is half a bin below -50 Hz, folded to +46.875 Hz; the spread 1.25 bin^2,
    // of which the window's own 1/3 is taken out.
    SpectralMoments m = MomentsOf(FlatSpectrum({{14, 5}, {15, 5}, {0, 5}, {1, 5}}), 10, 0.01, {});
    EXPECT_DOUBLE_EQ(m.noise_per_bin, 1.0);
    EXPECT_EQ(m.first_bin, 14);
    EXPECT_EQ(m.last_bin, 1);
    EXPECT_NEAR(m.mean_hz, 46.875, 1e-9);
    EXPECT_NEAR(m.width_hz, std::sqrt(1.25 - 1.0 / 3) * 6.25, 1e-9);
    EXPECT_NEAR(m.snr_db, 0, 1e-9);

    // A notch of 2 takes bins 7, 8 and 9 (the clutter) and keeps the next ones.
    for (const auto& [bin, hz] : {std::pair{10, 12.5}, std::pair{6, -12.5}}) {
        m = MomentsOf(FlatSpectrum({{7, 50}, {8, 1000}, {9, 50}, {bin, 5}}), 10, 0.01,
                      {.snr_threshold_db = -30, .dc_notch = 2});
        EXPECT_DOUBLE_EQ(m.noise_per_bin, 1.0) << bin;
        EXPECT_EQ(m.peak_bin, bin);
        EXPECT_NEAR(m.mean_hz, hz, 1e-9) << bin;
        EXPECT_NEAR(m.width_hz, 0, 1e-9) << bin;
        EXPECT_NEAR(m.power, 4, 1e-9) << bin;
    }

    // The region runs from the peak to the first bin at the noise on each side:
    // 2, 5, 8, 5, 2 over it around -25 Hz; the bump at +25 Hz is another echo's.
    // Its spread, 26/22 bin^2, less the window's 1/3.
    m = MomentsOf(FlatSpectrum({{2, 3}, {3, 6}, {4, 9}, {5, 6}, {6, 3}, {12, 3}}), 10, 0.01, {});
    EXPECT_EQ(m.first_bin, 2);
    EXPECT_EQ(m.last_bin, 6);
    EXPECT_NEAR(m.power, 22, 1e-9);
    EXPECT_NEAR(m.mean_hz, -25, 1e-9);
    EXPECT_NEAR(m.width_hz, std::sqrt(26.0 / 22 - 1.0 / 3) * 6.25, 1e-9);
    EXPECT_NEAR(m.snr_db, 10 * std::log10(22.0 / 16), 1e-9);
}

TEST(EchoMomentsTest, TheThresholdAndTheDcNotchAreTheOperatorsToSet) {
    std::mt19937 random(5);
    const SpectralMoments strict = MomentsOfEcho(random, 0, {.snr_threshold_db = 3});
    EXPECT_TRUE(strict.measured);
    EXPECT_FALSE(strict.valid);
    const SpectralMoments cluttered = MomentsOfEcho(random, 10, {}, 300);
    EXPECT_NEAR(cluttered.mean_hz, 0, 0.5);
    const SpectralMoments notched =
        MomentsOfEcho(random, 10, {.snr_threshold_db = std::nullopt, .dc_notch = 2}, 300);
    EXPECT_NEAR(notched.mean_hz, 10, 0.6);
    EXPECT_NEAR(notched.snr_db, 10, 1.5);
}

TEST(SimNoiseTest, GaussianOfTheGivenSigmaTheSameWhenAskedAgainAndHeldTo12Bits) {
    double sum = 0, squares = 0;
    constexpr int kCount = 20000;
    for (int frame = 0; frame < kCount; ++frame) {
        const SimSample s = SimNoise(50, 3, frame, 7);
        sum += s.ip + s.qp;
        squares += double(s.ip) * s.ip + double(s.qp) * s.qp;
    }
    EXPECT_NEAR(sum / (2 * kCount), 0, 1.5);
    EXPECT_NEAR(std::sqrt(squares / (2 * kCount)), 50, 1.5);
    EXPECT_EQ(SimNoise(50, 3, 99, 7).ip, SimNoise(50, 3, 99, 7).ip);
    EXPECT_NE(SimNoise(50, 3, 99, 7).ip, SimNoise(50, 4, 99, 7).ip);  // another trigger run
    EXPECT_EQ(SimNoise(0, 3, 99, 7).ip, 0);
    const SimSample held = SimNoisySample({2000, -2000}, {100, -100});
    EXPECT_EQ(held.ip, 2047);
    EXPECT_EQ(held.qp, -2048);
}

}  // namespace
