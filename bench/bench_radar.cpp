// What the radar view costs at the heaviest settings: 36 gates, 10,000 records a
// second (ipp 100 us, integrations 1), the view refreshed four times a second.
//   feed:    the processing thread's share, per record;
//   refresh: the window's refresh (series, spectra of every gate, painting into
//            an image of the window's size), per refresh.
// The counter core_percent is the share of one core at those rates.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QSpinBox>
#include <vector>

#include "radar/radar_feed.h"
#include "station/run_config.h"
#include "views/radar_form.h"

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
}  // namespace

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
