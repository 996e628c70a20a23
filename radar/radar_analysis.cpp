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
    if (out.blocks > 0) out.moments = MomentsOf(out.power, out.blocks, record_period_s);
    return out;
}

std::vector<SpectralMoments> RadarAnalysis::profile(const std::vector<std::vector<Complex>>& gates,
                                                    int blocks, double record_period_s) {
    std::vector<SpectralMoments> out;
    out.reserve(gates.size());
    for (const auto& series : gates)
        out.push_back(analyse(series, blocks, record_period_s).moments);
    return out;
}

}  // namespace zarv::radar
