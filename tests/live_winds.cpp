// Replays recorded dwells through the live station's winds, as a run feeds
// them (the radar feed, then the wind feed on each new beam), and prints each
// closed period's winds, one line per height:
//   middle_utc height_m u v w valid count1 count2 count3 flag
// Reads on standard input:
//   settings FREQ_HZ START_TIME_NS RESOLUTION_NS OFFSET_NS Z1 A1 Z2 A2 Z3 A3
//            PERIOD_S WINDOW_M_S MIN_FRACTION SNR_THRESHOLD_DB(nan: none) DC_NOTCH
//   dwell FILE BLOCK FIRST_RECORD_UTC      (in the order they were recorded)
// The Python package's tests compare zarv-winds with these.
#include <QCoreApplication>
#include <QMap>
#include <QTextStream>
#include <cmath>
#include <cstdio>

#include "radar/data_file_reader.h"
#include "radar/radar_feed.h"
#include "station/run_config.h"
#include "winds/wind_feed.h"

using namespace zarv;

namespace {
station::TRunConfig ReadSettings(QTextStream& in) {
    station::TRunConfig c;
    QString word;
    double freq = 0, start = 0, resolution = 0, offset = 0, period = 0, window = 0, fraction = 0,
           threshold = 0;
    int notch = 0;
    std::array<double, 6> beams{};
    in >> word >> freq >> start >> resolution >> offset;
    for (double& b : beams) in >> b;
    in >> period >> window >> fraction >> threshold >> notch;
    c.start_time = static_cast<std::int32_t>(start);
    c.resolution = static_cast<std::int32_t>(resolution);
    station::RadarGeometry& g = c.geometry;
    g.radar_frequency = freq;
    g.range_offset = offset;
    for (std::size_t b = 0; b < 3; ++b) {
        g.zenith[b] = beams[2 * b];
        g.azimuth[b] = beams[2 * b + 1];
    }
    g.consensus_period = period;
    g.consensus_window = window;
    g.consensus_min_fraction = fraction;
    if (!std::isnan(threshold)) g.snr_threshold = threshold;  // nan: by the noise
    g.dc_notch = notch;
    return c;
}

void Feed(radar::RadarFeed& feed, const radar::DataBlock& block, const QDateTime& first) {
    feed.dwellBegins(block.header.value(QStringLiteral("Beam Direction")).toInt());
    const auto period_us = static_cast<std::int32_t>(block.ipp_us * block.integrations);
    for (const std::vector<int>& r : block.records)
        feed.addRecord(r.data(), static_cast<int>(r.size()), period_us);
    feed.dwellPlaced(first);
}

void Print(const winds::WindProfile& p) {
    const QByteArray middle = p.middle.toString(Qt::ISODateWithMs).toLatin1();
    for (std::size_t h = 0; h < p.heights_m.size(); ++h) {
        const winds::Wind& w = p.winds[h];
        std::printf("%s %.3f %.6f %.6f %.6f %d %d %d %d %d\n", middle.constData(), p.heights_m[h],
                    w.uvw[0], w.uvw[1], w.uvw[2], w.valid ? 1 : 0, p.counts[0][h], p.counts[1][h],
                    p.counts[2][h], p.flags[h]);
    }
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream in(stdin);
    const station::TRunConfig settings = ReadSettings(in);
    radar::RadarFeed feed;
    winds::WindFeed live(feed, settings, [] { return QDateTime(); });
    QMap<QString, std::vector<radar::DataBlock>> files;
    QString word;
    while (!(in >> word, word.isEmpty())) {
        QString path, when;
        int block = 0;
        in >> path >> block >> when;
        word.clear();
        if (!files.contains(path)) files.insert(path, radar::ReadDataBlocks(path));
        const std::vector<radar::DataBlock>& blocks = files[path];
        if (block < 0 || static_cast<std::size_t>(block) >= blocks.size()) {
            std::fprintf(stderr, "live_winds: %s has no block %d\n", qPrintable(path), block);
            return 1;
        }
        Feed(feed, blocks[static_cast<std::size_t>(block)],
             QDateTime::fromString(when, Qt::ISODateWithMs));
        live.poll();
    }
    live.finish();
    if (!live.profiler()) {
        std::fprintf(stderr, "live_winds: no winds: %s\n", qPrintable(live.whyNone()));
        return 1;
    }
    for (const winds::WindProfile& p : live.profiler()->profiles()) Print(p);
    return 0;
}
