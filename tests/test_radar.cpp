#include <gtest/gtest.h>

#include <QTest>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <cmath>
#include <random>

#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "data_file_checker.h"
#include "radar/data_file_reader.h"
#include "radar/feed_kernels.h"
#include "radar/radar_analysis.h"
#include "radar/radar_feed.h"
#include "station_fixture.h"
#include "test_support.h"
#include "views/radar_form.h"
#include "views/radar_plots.h"
#include "views/rti_picture.h"
#include "views/waterfall.h"

using namespace zarv::acquisition;
using namespace zarv::radar;

namespace {

std::vector<Complex> Tone(double amplitude, double hz, double period_s, int count,
                          double phase = 0) {
    std::vector<Complex> x;
    for (int n = 0; n < count; ++n)
        x.push_back(std::polar(amplitude, 2 * M_PI * hz * n * period_s + phase));
    return x;
}

// f folded into -1/(2T) .. 1/(2T).
double Folded(double hz, double period_s) {
    const double span = 1 / period_s;
    return hz - span * std::floor(hz / span + 0.5);
}

// The gain of averaging n pulses tau apart for a tone of f hertz.
double AveragingGain(double hz, int n, double tau_s) {
    if (hz == 0) return 1;
    return std::abs(std::sin(M_PI * hz * n * tau_s) / (n * std::sin(M_PI * hz * tau_s)));
}

int NearestBin(double hz, int points, double period_s) {
    return static_cast<int>(std::lround(hz * points * period_s)) + points / 2;
}

}  // namespace

TEST(DopplerSpectrumTest, ATonePeaksAtItsBinAndItsBinsAddUpToItsPower) {
    const double t = 0.01;
    for (const double hz : {0.0, 7.8125, -21.3, 49.0}) {
        DopplerSpectrum spectrum(64);
        std::vector<double> power;
        const auto x = Tone(1000, hz, t, 256, 0.3);
        ASSERT_EQ(spectrum.compute(x.data(), x.size(), 4, power), 4);
        ASSERT_EQ(power.size(), 64u);
        const auto peak = std::max_element(power.begin(), power.end()) - power.begin();
        EXPECT_LE(std::abs(peak - NearestBin(hz, 64, t)), 1) << hz;
        double sum = 0;
        for (double p : power) sum += p;
        EXPECT_NEAR(sum, 1e6, 1e-6 * 1e6) << hz;
        const SpectralMoments m = MomentsOf(power, 4, t);
        EXPECT_NEAR(m.mean_hz, hz, 0.5 / (64 * t)) << hz;
    }
}

TEST(DopplerSpectrumTest, TheHannWindowKeepsAToneBetweenBinsFromLeakingFarAway) {
    const double t = 0.01;
    const double hz = 5.5 / (64 * t);  // half way between bins 5 and 6 above zero
    DopplerSpectrum spectrum(64);
    std::vector<double> power;
    const auto x = Tone(1000, hz, t, 64);
    ASSERT_EQ(spectrum.compute(x.data(), x.size(), 1, power), 1);
    const double peak = *std::max_element(power.begin(), power.end());
    // Eight bins off, a rectangular window leaks some -27 dB; Hann far below -50 dB.
    EXPECT_LT(power[static_cast<std::size_t>(32 + 5 + 8)], peak * 1e-5);
    EXPECT_LT(power[static_cast<std::size_t>(32 + 5 - 8)], peak * 1e-5);
}

TEST(DopplerSpectrumTest, FewerValuesThanABlockGiveNoSpectrumAndOnlyPowersOfTwoArePlanned) {
    DopplerSpectrum spectrum(32);
    std::vector<double> power{1, 2};
    const auto x = Tone(1, 1, 0.01, 31);
    EXPECT_EQ(spectrum.compute(x.data(), x.size(), 4, power), 0);
    EXPECT_TRUE(power.empty());
    EXPECT_FALSE(MomentsOf(power, 1, 0.01).valid);
    EXPECT_THROW(DopplerSpectrum(48), std::invalid_argument);
    EXPECT_THROW(DopplerSpectrum(1), std::invalid_argument);
}

TEST(SpectralMomentsTest, NoiseLevelAndSnrOfAToneInWhiteNoise) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, 10);  // 200 per value: 100 + 100
    auto x = Tone(100, 12.5, 0.01, 64 * 16);
    for (Complex& v : x) v += Complex(gauss(random), gauss(random));
    DopplerSpectrum spectrum(64);
    std::vector<double> power;
    spectrum.compute(x.data(), x.size(), 16, power);
    const SpectralMoments m = MomentsOf(power, 16, 0.01);
    ASSERT_TRUE(m.valid);
    EXPECT_NEAR(m.noise_per_bin * 64, 200, 30);  // the noise's power, spread over the bins
    EXPECT_NEAR(m.snr_db, 10 * std::log10(1e4 / 200), 1.0);
    EXPECT_NEAR(m.mean_hz, 12.5, 0.5 / 0.64);
    EXPECT_LT(m.width_hz, 2.0);
}

// Bins that scatter as much as one spectrum's noise does are all noise for a
// single spectrum; averaged over sixteen, noise scatters four times less, and
// the upper half must be signal.
TEST(SpectralMomentsTest, TheNoiseLevelDependsOnHowManySpectraWereAveraged) {
    std::vector<double> power(64);
    for (std::size_t i = 0; i < power.size(); ++i) power[i] = i % 2 ? 1.5 : 0.5;
    EXPECT_DOUBLE_EQ(HildebrandSekhonNoise(power, 1), 1.0);
    EXPECT_DOUBLE_EQ(HildebrandSekhonNoise(power, 16), 0.5);
    EXPECT_DOUBLE_EQ(HildebrandSekhonNoise(power, 0), 1.0);  // taken as one
}

TEST(SpectralMomentsTest, AnEchoAcrossTheFoldingFrequencyKeepsItsMeanAndWidth) {
    // Two tones at +-49 Hz with T = 10 ms: one echo 2 Hz wide around 50 Hz.
    auto x = Tone(1000, 49.2, 0.01, 512);
    const auto y = Tone(1000, -49.2 + 0.0, 0.01, 512, 1.0);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += y[i];
    DopplerSpectrum spectrum(128);
    std::vector<double> power;
    spectrum.compute(x.data(), x.size(), 4, power);
    const SpectralMoments m = MomentsOf(power, 4, 0.01);
    EXPECT_NEAR(std::abs(m.mean_hz), 50, 0.5);
    EXPECT_LT(m.width_hz, 2);  // not the 49 Hz a straight mean across the band would give
}

TEST(RtiPictureTest, ColumnsLandByTimeAndTheOldOnesAreCleared) {
    zarv::views::RtiPicture picture;
    picture.reset(4, 1.0, 2);
    PowerColumn c;
    c.beam = 2;
    c.power_db = {0, 70};
    c.end = QDateTime::fromMSecsSinceEpoch(10'500);
    picture.add(c);
    const QImage& beam2 = picture.image(2);
    EXPECT_EQ(picture.newestIndex(), 10 % 4);
    EXPECT_EQ(beam2.pixel(2, 0), zarv::views::ColourOf(1.0));  // gate 2 at the top
    EXPECT_EQ(beam2.pixel(2, 1), zarv::views::ColourOf(0.0));
    c.end = QDateTime::fromMSecsSinceEpoch(13'200);  // three stretches later
    c.power_db = {35, 35};
    picture.add(c);
    EXPECT_EQ(picture.newestIndex(), 1);
    EXPECT_EQ(beam2.pixel(1, 0), zarv::views::ColourOf(0.5));
    EXPECT_EQ(beam2.pixel(2, 0), zarv::views::ColourOf(1.0)) << "still within the history";
    EXPECT_EQ(beam2.pixel(3, 0), beam2.pixel(0, 0)) << "the stretches between are empty";
    EXPECT_NE(beam2.pixel(3, 0), zarv::views::ColourOf(0.0));
    c.end = QDateTime::fromMSecsSinceEpoch(9'000);  // older than the history: dropped
    picture.add(c);
    EXPECT_EQ(beam2.pixel(1, 0), zarv::views::ColourOf(0.5));
    c.end = QDateTime::fromMSecsSinceEpoch(14'100);  // the ring wraps onto the first column
    c.power_db = {70, 0};
    picture.add(c);
    EXPECT_EQ(beam2.pixel(2, 0), zarv::views::ColourOf(0.0));
    EXPECT_EQ(picture.image(1).pixel(2, 0), beam2.pixel(3, 0)) << "other beams cleared too";
}

// What a status page shows: the ring unrolled, newest column at the right,
// each gate as tall as asked.
TEST(RtiPictureTest, InTimeOrderPutsTheNewestColumnAtTheRight) {
    zarv::views::RtiPicture picture;
    EXPECT_TRUE(picture.inTimeOrder(1, 3).isNull());
    picture.reset(4, 1.0, 2);
    PowerColumn c;
    c.beam = 1;
    c.power_db = {0, 70};
    c.end = QDateTime::fromMSecsSinceEpoch(10'500);  // ring index 2
    picture.add(c);
    c.power_db = {35, 35};
    c.end = QDateTime::fromMSecsSinceEpoch(13'200);  // ring index 1, three stretches later
    picture.add(c);
    const QImage ordered = picture.inTimeOrder(1, 3);
    ASSERT_EQ(ordered.size(), QSize(4, 6));
    EXPECT_EQ(ordered.pixel(3, 0), zarv::views::ColourOf(0.5));  // the newest, at the right
    EXPECT_EQ(ordered.pixel(0, 0), zarv::views::ColourOf(1.0));  // three stretches before
    EXPECT_EQ(ordered.pixel(0, 2), zarv::views::ColourOf(1.0));  // gate 2 is rows 0 to 2
    EXPECT_EQ(ordered.pixel(0, 3), zarv::views::ColourOf(0.0));  // gate 1 below
}

// The simulated controller's gate g carries a tone of 2000 - 50 g at +2 g Hz. A
// recorded run's spectra, powers and moments are checked against that.
class RadarRunTest : public StationFixture {
  protected:
    static constexpr int kGates = 30;  // 2 g Hz passes 50 Hz from gate 26 on
    static constexpr int kPoints = 64;
    static constexpr int kBlocks = 4;
    static constexpr double kPeriod = 0.01;  // ipp 1000 us x 10 integrations

    void record(const QString& extra = QString()) {
        writeConfig(DefaultConfigText(path("data"))
                        .replace("gates=4", QStringLiteral("gates=%1").arg(kGates))
                        .replace("dwell_time=0.6", "dwell_time=5") +
                    extra);
        AcquisitionRun run(station->log, station->session, station->config);
        run.setRecordSink(&feed);
        const auto stop = [&] { run.stop(); };
        ActWhen enough([&] { return feed.recordsOf(1) >= kPoints * kBlocks; }, stop, stop);
        run.start();
    }
    static double Amplitude(int g) { return 2000.0 - 50.0 * g; }
    static double ExpectedDb(int g) {
        const double a = Amplitude(g) * AveragingGain(2.0 * g, 10, 1e-3);
        return 10 * std::log10(a * a);
    }

    RadarFeed feed{4096, 1.0};
};

TEST_F(RadarRunTest, EachGatesSpectrumPowerAndMeanDopplerMatchTheSimulatedEcho) {
    record();
    ASSERT_EQ(feed.gates(), kGates);
    ASSERT_DOUBLE_EQ(feed.recordPeriodSeconds(), kPeriod);
    RadarAnalysis analysis;
    analysis.setPoints(kPoints);
    RecordWindow window;
    feed.latest(1, kPoints * kBlocks, window);
    ASSERT_EQ(window.records, static_cast<std::size_t>(kPoints * kBlocks));
    const auto profile = analysis.profile(window, kBlocks, kPeriod);
    ASSERT_EQ(profile.size(), static_cast<std::size_t>(kGates));
    const double bin_hz = 1 / (kPoints * kPeriod);
    for (int g = 1; g <= kGates; ++g) {
        const double f = Folded(2.0 * g, kPeriod);
        const GateSpectrum s =
            analysis.analyse(feed.series(1, g, kPoints * kBlocks), kBlocks, kPeriod);
        ASSERT_EQ(s.blocks, kBlocks);
        const int peak =
            static_cast<int>(std::max_element(s.power.begin(), s.power.end()) - s.power.begin());
        const int distance = std::abs(peak - NearestBin(f, kPoints, kPeriod));
        EXPECT_LE(std::min(distance, kPoints - distance), 1) << "gate " << g;
        EXPECT_NEAR(s.moments.mean_hz, f, bin_hz / 2) << "gate " << g;
        EXPECT_NEAR(s.moments.power_db, ExpectedDb(g), 0.1) << "gate " << g;
        EXPECT_GT(s.moments.snr_db, 30) << "gate " << g;
        // The view's path through the feed's records gives the very same numbers.
        EXPECT_DOUBLE_EQ(profile[static_cast<std::size_t>(g - 1)].mean_hz, s.moments.mean_hz);
        EXPECT_EQ(analysis.analyse(window, g, kBlocks, kPeriod).power, s.power);
    }
}

TEST_F(RadarRunTest, TheRangeTimeColumnsHoldEachGatesPowerAndTheFileHoldsWhatTheViewSaw) {
    record();
    const std::vector<PowerColumn> columns = feed.takeColumns();
    ASSERT_GE(columns.size(), 2u);  // a column a second
    for (const PowerColumn& c : columns) {
        EXPECT_EQ(c.beam, 1);
        ASSERT_EQ(c.power_db.size(), static_cast<std::size_t>(kGates));
        for (int g = 1; g <= kGates; ++g)
            EXPECT_NEAR(c.power_db[static_cast<std::size_t>(g - 1)], ExpectedDb(g), 0.1)
                << "gate " << g;
    }
    EXPECT_TRUE(feed.takeColumns().empty());
    const QStringList files = DataFilesUnder(path("data"));
    ASSERT_EQ(files.size(), 1);
    const std::vector<DataBlock> blocks = ReadDataBlocks(files[0]);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].gates, kGates);
    EXPECT_DOUBLE_EQ(blocks[0].recordPeriodSeconds(), kPeriod);
    EXPECT_EQ(blocks[0].header.value("Beam Direction"), "1");
    for (int g : {1, 17, kGates})
        EXPECT_EQ(blocks[0].series(g), feed.series(1, g, blocks[0].records.size())) << g;
}

TEST_F(RadarRunTest, TheWindowShowsTheChosenGatesMomentsAndEveryGatesProfile) {
    record();
    zarv::views::TRadarForm form(feed, station->config.run_config);
    QList<QImage> pictures;  // what the status page would be given
    form.setPictureTaker([&](const QImage& picture) { pictures << picture; });
    form.show();
    form.points_box->setCurrentText(QString::number(kPoints));
    form.averages_box->setValue(kBlocks);
    form.gate_box->setValue(3);
    form.refreshAll();
    EXPECT_EQ(form.shownBeam(), 1);
    EXPECT_EQ(form.gate_box->maximum(), kGates);
    const QString text = form.moments_label->text();
    // The run raised start_time from 1500 to 2000 ns; gates are 150 ns apart.
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("Beam 1, gate 3 (2.30 \u00b5s)"))) << text;
    EXPECT_TRUE(text.contains("Mean Doppler 6.00 Hz")) << text;
    const auto power = QRegularExpression("Power ([-0-9.]+) dB").match(text);
    ASSERT_TRUE(power.hasMatch()) << text;
    EXPECT_NEAR(power.captured(1).toDouble(), ExpectedDb(3), 0.1);
    ASSERT_EQ(form.profile().size(), static_cast<std::size_t>(kGates));
    EXPECT_NEAR(form.profile()[9].mean_hz, 20, 0.5 / (kPoints * kPeriod));
    EXPECT_EQ(form.rti->picture.gates(), kGates);
    ASSERT_EQ(pictures.size(), 1);  // once, however often the view refreshes within 5 s
    EXPECT_EQ(pictures[0].size(), form.rti->size() * form.rti->devicePixelRatio());
    const qint64 newest = form.rti->picture.newest();
    EXPECT_GE(newest, 0);
    form.minutes_box->setValue(1);  // a new span keeps the columns already taken
    EXPECT_EQ(form.rti->picture.columns(), 60);
    EXPECT_EQ(form.rti->picture.newest(), newest);
    form.beam_box->setCurrentIndex(2);  // a beam with nothing recorded yet
    EXPECT_TRUE(form.moments_label->text().contains("Waiting for 64 records"));
    EXPECT_TRUE(form.profile().front().valid == false);
    QTest::keyClick(&form, Qt::Key_Escape);  // closes the view
    EXPECT_FALSE(form.isVisible());
}

TEST(DataFileReaderTest, AppendedBlocksAreSeparateAndATornLastLineIsDropped) {
    QTemporaryDir dir;
    const QString name = dir.filePath("f_beam2.txt");
    QByteArray header;
    const QStringList labels{"File Path",      "Time Stamp", "IPP",        "Resolution",
                             "Pulse length",   "Start time", "Gates",      "Integrations",
                             "Beam Direction", "Dwell time", "Tx enable",  "LO gate length",
                             "Audio enable",   "DAC CH0",    "DAC CH1",    "Reference Level",
                             "Ip Level",       "Qp Level",   "Test Level", "Test Gate Length",
                             "Test Gate Delay"};
    for (const QString& label : labels)
        header += (label + " = " +
                   (label == "Gates" ? "2"
                    : label == "IPP" ? "500"
                                     : "1"))
                      .toLatin1() +
                  "\r\n";
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(header + "1 2 3 4  \r\n-5 6 7 8  \r\n" + header + "9 10 11 12  \r\n13 14");
    f.close();
    const auto blocks = ReadDataBlocks(name);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].records, (std::vector<std::vector<int>>{{1, 2, 3, 4}, {-5, 6, 7, 8}}));
    EXPECT_EQ(blocks[1].records, (std::vector<std::vector<int>>{{9, 10, 11, 12}}));
    EXPECT_DOUBLE_EQ(blocks[1].recordPeriodSeconds(), 500e-6);
    EXPECT_EQ(blocks[0].series(2), (std::vector<Complex>{{3, 4}, {7, 8}}));
    EXPECT_TRUE(ReadDataBlocks(dir.filePath("missing.txt")).empty());
}

// A chunk's records handed over at once: the same ring and the same columns,
// a column closing inside a batch, as record by record; for records of few
// words, of many, and with a word beyond the last whole gate.
TEST(RadarFeedTest, RecordsInBatchesFeedAsOneByOne) {
    const auto clock = [] { return QDateTime::fromMSecsSinceEpoch(1000); };
    constexpr std::size_t kRecords = 120, kPerColumn = 40;  // 0.4 s columns of 10 ms records
    for (const std::size_t words : {4u, 6u, 3u, 72u}) {
        SCOPED_TRACE(words);
        RadarFeed one(50, 0.4, clock), batched(50, 0.4, clock);  // wraps mid-column
        std::vector<int> values(words * kRecords);
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<int>((i * 7919) % 4096) - 2048;
        values[8] = values[9] = -40000;  // stored as -32768: a power of 2^31
        values[21] = 99999;
        const int n = static_cast<int>(words);
        for (RadarFeed* feed : {&one, &batched}) feed->dwellBegins(1);
        for (std::size_t r = 0; r < kRecords; ++r) one.addRecord(&values[words * r], n, 10000);
        batched.addRecords(values.data(), n, 53, 10000);
        batched.addRecords(&values[words * 53], n, kRecords - 53, 10000);
        for (int gate = 1; gate <= n / 2; ++gate)
            EXPECT_EQ(batched.series(1, gate, 50), one.series(1, gate, 50));
        EXPECT_EQ(batched.recordsFed(), kRecords);
        const auto a = one.takeColumns(), b = batched.takeColumns();
        ASSERT_EQ(a.size(), kRecords / kPerColumn);
        ASSERT_EQ(b.size(), a.size());
        for (std::size_t c = 0; c < a.size(); ++c) {
            EXPECT_EQ(b[c].power_db, a[c].power_db);
            ASSERT_EQ(b[c].power_db.size(), words / 2);
            for (std::size_t g = 0; g < words / 2; ++g) {  // each gate's mean power
                double sum = 0;
                for (std::size_t r = kPerColumn * c; r < kPerColumn * (c + 1); ++r)
                    for (std::size_t w = 2 * g; w < 2 * g + 2; ++w) {
                        const double v = std::clamp(values[words * r + w], -32768, 32767);
                        sum += v * v;
                    }
                EXPECT_NEAR(b[c].power_db[g], 10 * std::log10(sum / kPerColumn), 1e-4)
                    << c << " " << g;
            }
        }
    }
}

// The feed's kernel, with the vector units and without, against sums made
// here: records of every shape a stream has (and odd ones), runs that end
// inside a block and that fill several, values beyond 16 bits both ways.
TEST(FeedKernels, StoreAndSumClampsAndSumsAsAPlainLoopDoes) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-40000, 40000);
    for (std::size_t per_record = 1; per_record <= 74; ++per_record) {
        for (const std::size_t records : {1u, 3u, 17u, 64u, 129u}) {
            SCOPED_TRACE(testing::Message() << per_record << " words, " << records << " records");
            const std::size_t summed = per_record / 2 * 2;
            std::vector<int> values(per_record * records);
            for (int& v : values) v = value(random);
            values[0] = -40000;  // a pair at the limit: 2 x 32768^2 = 2^31
            if (values.size() > 1) values[1] = -32768;
            std::vector<std::int16_t> fast(values.size()), plain(values.size());
            std::vector<std::int64_t> fast_sums(per_record, 5), plain_sums(per_record, 5);
            zarv::radar::StoreAndSum(values.data(), fast.data(), records, per_record, summed,
                                     fast_sums.data());
            zarv::radar::StoreAndSumPlain(values.data(), plain.data(), records, per_record, summed,
                                          plain_sums.data());
            std::vector<std::int16_t> clamped(values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                clamped[i] = static_cast<std::int16_t>(std::clamp(values[i], -32768, 32767));
            EXPECT_EQ(fast, clamped);
            EXPECT_EQ(plain, clamped);
            for (std::size_t p = 0; p < summed; p += 2) {
                std::int64_t power = 10;  // what the sums held before
                for (std::size_t r = 0; r < records; ++r)
                    for (std::size_t w = p; w < p + 2; ++w)
                        power +=
                            std::int64_t{clamped[r * per_record + w]} * clamped[r * per_record + w];
                EXPECT_EQ(fast_sums[p] + fast_sums[p + 1], power) << "words " << p;
                EXPECT_EQ(plain_sums[p] + plain_sums[p + 1], power) << "words " << p;
            }
            if (summed < per_record) {  // a word beyond the last whole gate is not summed
                EXPECT_EQ(fast_sums[summed], 5);
                EXPECT_EQ(plain_sums[summed], 5);
            }
        }
    }
}

TEST(RadarFeedTest, TheNewestRecordsComeOutInOrderAcrossTheRingsEndAndPerBeam) {
    RadarFeed feed(5, 0.03, [] { return QDateTime::fromMSecsSinceEpoch(1000); });
    feed.dwellBegins(2);
    for (int n = 0; n < 7; ++n) {
        const int record[4] = {n, -n, 10 * n, 0};
        feed.addRecord(record, 4, 10000);  // 10 ms: a column every third record
    }
    RecordWindow window;
    feed.latest(2, 4, window);
    ASSERT_EQ(window.records, 4u);
    ASSERT_EQ(window.gates, 2);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(window.gate(1)[i * window.stride()], static_cast<int>(i) + 3);
        EXPECT_EQ(window.gate(2)[i * window.stride()], 10 * (static_cast<int>(i) + 3));
    }
    EXPECT_EQ(feed.series(2, 1, 100).size(), 5u);  // no more than the history
    feed.latest(1, 4, window);
    EXPECT_EQ(window.records, 0u);
    feed.dwellBegins(3);  // closes the column of the seventh record on its own
    const auto columns = feed.takeColumns();
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].beam, 2);
    EXPECT_NEAR(columns[0].power_db[0], 10 * std::log10((0 + 2 + 8) / 3.0), 1e-4);  // n, -n
    EXPECT_EQ(feed.recordsOf(3), 0u);
    EXPECT_EQ(feed.recordsOf(2), 5u);
    const int wide[6] = {1, 1, 1, 1, 1, 1};
    feed.addRecord(wide, 6, 10000);  // three gates now: the old records go
    EXPECT_EQ(feed.recordsOf(2), 0u);
    EXPECT_EQ(feed.recordsOf(3), 1u);
    EXPECT_EQ(feed.gates(), 3);
}

TEST_F(RadarRunTest, WithTheCarrierKnownTheViewReadsKilometresAndMetresPerSecond) {
    sim->setNoise(300);  // some 20 dB of SNR
    record("radar_frequency = 449e6\n");
    zarv::views::TRadarForm form(feed, station->config.run_config);
    form.show();
    form.points_box->setCurrentText(QString::number(kPoints));
    form.averages_box->setValue(kBlocks);
    form.gate_box->setValue(3);
    form.refreshAll();
    QString text = form.moments_label->text();
    // Gate 3 is 2.3 us after the pulse: 344.8 m. +6 Hz at 449 MHz comes closer at 2.00 m/s.
    EXPECT_TRUE(text.contains("Range 0.345 km")) << text;
    EXPECT_TRUE(text.contains("Radial velocity -2.00 m/s")) << text;
    EXPECT_TRUE(text.contains("Nyquist 16.69 m/s")) << text;
    EXPECT_TRUE(form.rti->axes.physical());
    EXPECT_EQ(form.doppler_profile->accessibleName(), "velocity (m/s)");
    // The run has ended: nothing new since the gate was chosen, so its rows are blank
    // until a record comes.
    const int rows = form.waterfall->rows();
    EXPECT_GE(rows, 1);
    EXPECT_EQ(form.waterfall->spectra(), 0);
    const std::vector<int> one_more(2 * kGates, 100);
    feed.addRecord(one_more.data(), 2 * kGates, 10000);
    form.refreshAll();
    form.refreshAll();
    EXPECT_EQ(form.waterfall->rows(), rows + 2);
    EXPECT_EQ(form.waterfall->spectra(), 1);
    form.gate_box->setValue(4);  // another gate's spectra start a new waterfall
    EXPECT_EQ(form.waterfall->rows(), 1);

    // Above every gate's SNR: each is measured, none trusted.
    for (const SpectralMoments& m : form.profile()) EXPECT_LT(m.snr_db, 40);
    station->config.run_config.geometry.snr_threshold = 40;
    form.refreshAll();
    text = form.moments_label->text();
    EXPECT_TRUE(text.contains("Below the 40 dB threshold")) << text;
    EXPECT_FALSE(text.contains("Radial velocity")) << text;
    for (const SpectralMoments& m : form.profile()) EXPECT_TRUE(m.measured && !m.valid);

    form.floor_box->setValue(20);
    form.ceiling_box->setValue(50);
    EXPECT_EQ(form.rti->picture.scale.floor_db, 20);
    EXPECT_EQ(form.rti->picture.scale.ceiling_db, 50);
    form.ceiling_box->setValue(10);  // never below the floor
    EXPECT_EQ(form.rti->picture.scale.ceiling_db, 21);
    EXPECT_GE(form.rti->picture.newest(), 0);  // the columns drawn again, not lost

    const QSize screen(1366, 768);
    EXPECT_TRUE(form.minimumSizeHint().boundedTo(screen) == form.minimumSizeHint())
        << form.minimumSizeHint().width() << "x" << form.minimumSizeHint().height();
    EXPECT_TRUE(form.size().boundedTo(screen) == form.size());
}

TEST(WaterfallTest, ABeamsRowsAreBlankWhileAnotherRecordsAndAnotherLengthStartsAgain) {
    zarv::views::WaterfallWidget w;
    w.setRowsKept(3);
    const std::vector<double> p64(64, 2.0);
    w.addSecond(1, p64, 0.01);
    w.addSecond(2, p64, 0.01);
    w.addSecond(1, {}, 0.01);  // nothing new came
    for (int beam : {1, 2, 3}) {
        w.showBeam(beam);
        EXPECT_EQ(w.rows(), 3) << beam;
        EXPECT_EQ(w.spectra(), beam == 3 ? 0 : 1) << beam;
    }
    w.addSecond(1, p64, 0.01);  // the oldest row goes
    w.showBeam(1);
    EXPECT_EQ(w.rows(), 3);
    EXPECT_EQ(w.spectra(), 1);
    w.resize(300, 300);
    EXPECT_FALSE(w.grab().isNull());
    w.addSecond(1, std::vector<double>(32, 1.0), 0.01);
    EXPECT_EQ(w.rows(), 1);
    EXPECT_EQ(w.spectra(), 1);
}
