#include "dwell_moments.h"

#include <algorithm>

namespace zarv::radar {

std::vector<SpectralMoments> DwellMoments::of(int beam, const MomentOptions& options,
                                              StretchPlan* plan) {
    std::vector<SpectralMoments> moments;
    const double period_s = feed_.recordPeriodSeconds();
    const std::uint64_t dwell_records = feed_.dwellRecordsOf(beam);
    const StretchPlan stretches = PlanStretches(dwell_records, feed_.recordsOf(beam), kPoints);
    if (plan) *plan = stretches;
    if (period_s <= 0 || stretches.stretches == 0) return moments;
    // The newest records from the first stretch's start: whole stretches, and
    // the dwell's last few that make none.
    feed_.latest(beam, dwell_records - stretches.first, window_);
    for (int g = 1; g <= window_.gates; ++g) {
        spectrum_.stretchSpectra(window_.gate(g), window_.stride(), 0, stretches.stretches,
                                 spectra_);
        const DwellSpectrum dwell = AverageWithoutIntermittentClutter(spectra_);
        moments.push_back(MomentsOf(dwell.power, dwell.kept, period_s, options));
    }
    return moments;
}

EchoHealth EchoHealthOf(const std::vector<SpectralMoments>& gates) {
    EchoHealth health;
    health.gates = static_cast<int>(gates.size());
    std::vector<double> snr;
    for (const SpectralMoments& m : gates)
        if (m.valid) snr.push_back(m.snr_db);
    health.trusted = static_cast<int>(snr.size());
    if (snr.empty()) return health;
    // The median of an even count is the mean of the middle two.
    const std::size_t half = snr.size() / 2;
    std::nth_element(snr.begin(), snr.begin() + static_cast<std::ptrdiff_t>(half), snr.end());
    health.median_snr_db = snr[half];
    if (snr.size() % 2 == 0)
        health.median_snr_db =
            (health.median_snr_db +
             *std::max_element(snr.begin(), snr.begin() + static_cast<std::ptrdiff_t>(half))) /
            2;
    return health;
}

}  // namespace zarv::radar
