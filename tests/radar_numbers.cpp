// Prints what the radar view computes for every gate of every block of a data
// file, one line each: block gate power_db snr_db mean_hz width_hz noise peak_bin
// mean_power_db valid blocks. The Python package's tests compare their numbers
// with these.
#include <QCoreApplication>
#include <cmath>
#include <cstdio>

#include "radar/data_file_reader.h"
#include "radar/radar_analysis.h"

using namespace zarv::radar;

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr,
                     "usage: radar_numbers FILE POINTS BLOCKS [SNR_THRESHOLD [DC_NOTCH]]\n");
        return 2;
    }
    const int points = std::atoi(argv[2]);
    const int blocks = std::atoi(argv[3]);
    MomentOptions options;
    if (argc > 4) options.snr_threshold_db = std::atof(argv[4]);
    if (argc > 5) options.dc_notch = std::atoi(argv[5]);
    if (!IsPowerOfTwo(points) || blocks < 1) {
        std::fprintf(stderr, "radar_numbers: POINTS a power of two, BLOCKS from 1\n");
        return 2;
    }
    RadarAnalysis analysis;
    analysis.setPoints(points);
    analysis.setMomentOptions(options);
    const std::vector<DataBlock> file = ReadDataBlocks(QString::fromLocal8Bit(argv[1]));
    for (std::size_t b = 0; b < file.size(); ++b) {
        const DataBlock& block = file[b];
        for (int g = 1; g <= block.gates; ++g) {
            const std::vector<Complex> x = block.series(g);
            const GateSpectrum s = analysis.analyse(x, blocks, block.recordPeriodSeconds());
            double sum = 0;
            for (const Complex& v : x) sum += std::norm(v);
            const double mean_db =
                10 * std::log10(std::max(sum / std::max<double>(1, double(x.size())), 1e-12));
            const SpectralMoments& m = s.moments;
            std::printf("%zu %d %.6f %.6f %.6f %.6f %.9g %d %.6f %d %d\n", b, g, m.power_db,
                        m.snr_db, m.mean_hz, m.width_hz, m.noise_per_bin, m.peak_bin, mean_db,
                        m.valid ? 1 : 0, s.blocks);
        }
    }
    return file.empty() ? 1 : 0;
}
