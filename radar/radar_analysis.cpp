#include "radar_analysis.h"

namespace zarv::radar {

void RadarAnalysis::setPoints(int points) {
    if (points != this->points()) spectrum_ = std::make_unique<DopplerSpectrum>(points);
}

GateSpectrum RadarAnalysis::analyse(const std::vector<Complex>& series, int blocks,
                                    double record_period_s) {
    GateSpectrum out;
    if (!spectrum_) return out;
    out.blocks = spectrum_->compute(series.data(), series.size(), blocks, out.power);
    if (out.blocks > 0) out.moments = MomentsOf(out.power, out.blocks, record_period_s, options_);
    return out;
}

GateSpectrum RadarAnalysis::analyse(const RecordWindow& window, int gate, int blocks,
                                    double record_period_s) {
    GateSpectrum out;
    if (!spectrum_ || gate < 1 || gate > window.gates) return out;
    out.blocks =
        spectrum_->compute(window.gate(gate), window.records, window.stride(), blocks, out.power);
    if (out.blocks > 0) out.moments = MomentsOf(out.power, out.blocks, record_period_s, options_);
    return out;
}

std::vector<SpectralMoments> RadarAnalysis::profile(const RecordWindow& window, int blocks,
                                                    double record_period_s) {
    std::vector<SpectralMoments> out;
    out.reserve(static_cast<std::size_t>(window.gates));
    for (int g = 1; g <= window.gates; ++g)
        out.push_back(analyse(window, g, blocks, record_period_s).moments);
    return out;
}

}  // namespace zarv::radar
