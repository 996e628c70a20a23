// Arbitrary bytes as a data file: the reader, then the radar view's spectra and
// moments of what it found.
#include <QByteArray>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "radar/data_file_reader.h"
#include "radar/radar_analysis.h"

using namespace zarv::radar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<DataBlock> blocks = ParseDataBlocks(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    static RadarAnalysis analysis;
    analysis.setPoints(16);
    for (const DataBlock& block : blocks) {
        if (block.gates < 0 || block.gates > 36) std::abort();
        for (const auto& record : block.records)
            if (record.size() != static_cast<std::size_t>(2 * block.gates)) std::abort();
        const double period = block.recordPeriodSeconds();
        for (int g = 1; g <= block.gates; ++g) {
            const GateSpectrum s = analysis.analyse(block.series(g), 2, period);
            if (s.moments.valid && period > 0 &&
                !(std::abs(s.moments.mean_hz) <= 0.5 / period + 1e-9))
                std::abort();  // the mean lies within the folding frequencies
        }
    }
    return 0;
}
