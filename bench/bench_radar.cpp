// What the radar view costs at the heaviest settings: 36 gates, 10,000 records a
// second (ipp 100 us, integrations 1), the view refreshed four times a second.
//   feed:    the processing thread's share, per record;
//   refresh: the window's refresh (series, spectra of every gate, painting into
//            an image of the window's size), per refresh.
//   winds:   the winds' share on the GUI thread: a dwell's profile of radial
//            velocities (once per dwell), and the consensus and least squares
//            of a half-hour period of 5 s dwells (once per period).
// The counter core_percent is the share of one core at those rates.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QSpinBox>
#include <QTimeZone>
#include <vector>

#include "radar/radar_feed.h"
#include "station/run_config.h"
#include "views/radar_form.h"
#include "winds/wind_feed.h"
#include "winds/wind_profiler.h"

using namespace zarv::radar;

namespace {
constexpr int kGates = 36;
constexpr double kRecordsPerSecond = 10000;
constexpr std::int32_t kRecordPeriodUs = 100;

std::vector<int> Record(int n) {
    std::vector<int> values(2 * kGates);
    for (int p = 0; p < 2 * kGates; ++p)
        values[static_cast<std::size_t>(p)] = (n * 7 + p * 13) % 4001 - 2000;
    return values;
}

// Seconds per iteration x iterations a second, in per cent of one core.
benchmark::Counter CorePercent(double per_second) {
    return benchmark::Counter(
        1 / (100 * per_second),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void FillFeed(RadarFeed& feed, int records) {
    feed.dwellBegins(1);
    for (int n = 0; n < records; ++n) feed.addRecord(Record(n).data(), 2 * kGates, kRecordPeriodUs);
}

void BM_FeedRecord(benchmark::State& state) {
    RadarFeed feed;
    feed.dwellBegins(1);
    const std::vector<int> values = Record(1);
    for (auto _ : state) feed.addRecord(values.data(), 2 * kGates, kRecordPeriodUs);
    state.counters["core_percent"] = CorePercent(kRecordsPerSecond);
}

void BM_ViewRefresh(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const int blocks = static_cast<int>(state.range(1));
    RadarFeed feed(16384, 1.0);
    FillFeed(feed, points * blocks);
    zarv::station::TRunConfig settings;
    settings.start_time = 3000;
    settings.resolution = 150;
    zarv::views::TRadarForm form(feed, settings);
    form.points_box->setCurrentText(QString::number(points));
    form.averages_box->setValue(blocks);
    QImage canvas(form.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        form.refreshView();
        form.render(&canvas);
    }
    state.counters["core_percent"] = CorePercent(1000.0 / zarv::views::TRadarForm::kRefreshMs);
}
zarv::station::TRunConfig WindConfig() {
    zarv::station::TRunConfig settings;
    settings.start_time = 3000;
    settings.resolution = 150;
    settings.geometry.radar_frequency = 449e6;
    settings.geometry.zenith = {0.0, 15.0, 15.0};
    settings.geometry.azimuth = {0.0, 90.0, 0.0};
    return settings;
}

// A dwell ends every 5 s: one profile of every gate from the ended beam, from
// all its stretches of 64 records (the argument: records a dwell; 500 is 5 s
// of 10 ms records, 16384 the most a dwell gives the winds). Feeding the
// records is the processing thread's, and not timed here.
void BM_WindDwell(benchmark::State& state) {
    RadarFeed feed(16384, 1.0);
    const zarv::station::TRunConfig settings = WindConfig();
    zarv::winds::WindFeed winds(feed, settings);
    const auto records = static_cast<int>(state.range(0));
    int beam = 1;
    for (auto _ : state) {
        state.PauseTiming();
        beam = beam % 3 + 1;
        feed.dwellBegins(beam);
        for (int n = 0; n < records; ++n)
            feed.addRecord(Record(n).data(), 2 * kGates, kRecordPeriodUs);
        state.ResumeTiming();
        winds.poll();
    }
    state.counters["core_percent"] = CorePercent(1.0 / 5);
}

// Half an hour of 5 s dwells, 120 of each beam, closed into one profile.
void BM_WindPeriod(benchmark::State& state) {
    zarv::winds::WindSettings settings{{0, 15, 15}, {0, 90, 0}, 1800, 4, 0.5};
    std::vector<double> ranges, radial;
    for (int g = 0; g < kGates; ++g) {
        ranges.push_back(450 + 22.5 * g);
        radial.push_back(0.1 * g);
    }
    const QDateTime start(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
    for (auto _ : state) {
        zarv::winds::WindProfiler profiler(settings);
        for (int dwell = 0; dwell < 360; ++dwell)
            profiler.addDwell(start.addSecs(5 * dwell), dwell % 3 + 1, radial, ranges);
        profiler.closePeriod();
        benchmark::DoNotOptimize(profiler.profiles().back().winds.data());
    }
    state.counters["core_percent"] = CorePercent(1.0 / 1800);
}
}  // namespace

BENCHMARK(BM_WindDwell)->Arg(500)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindPeriod)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FeedRecord);
BENCHMARK(BM_ViewRefresh)
    ->Args({64, 4})
    ->Args({256, 8})
    ->Args({1024, 16})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
