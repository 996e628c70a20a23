#include "wind_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "wind_profiler.h"

namespace zarv::winds {

WindFlag BeamFlag(bool reaches, int dwells, int trusted_votes, bool has_velocity) {
    if (!reaches || dwells == 0) return WindFlag::NotDetermined;
    if (has_velocity) return WindFlag::Good;
    return trusted_votes == 0 ? WindFlag::BelowThreshold : WindFlag::ConsensusFailed;
}

WindFlag WindlessFlag(const std::vector<WindFlag>& beams) {
    for (const WindFlag cause :
         {WindFlag::NotDetermined, WindFlag::BelowThreshold, WindFlag::ConsensusFailed})
        if (std::find(beams.begin(), beams.end(), cause) != beams.end()) return cause;
    return WindFlag::NotDetermined;  // every beam had a value, yet they fix no wind
}

namespace {
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Whether value lies near the median of its neighbours, as their spread allows.
bool Fits(double value, const std::vector<double>& neighbours) {
    const double median = Median(neighbours);
    std::vector<double> deviations;
    for (const double n : neighbours) deviations.push_back(std::abs(n - median));
    const double spread = 1.4826 * Median(deviations);
    return std::abs(value - median) <= kContinuityLimit + kContinuitySpreads * spread;
}

void AddNeighbours(const WindProfile& p, std::size_t h, bool self_too, std::vector<double>& u,
                   std::vector<double>& v) {
    const auto at = static_cast<long>(h);
    for (long k = at - kContinuityHeights; k <= at + kContinuityHeights; ++k) {
        if (k < 0 || k >= static_cast<long>(p.winds.size()) || (k == at && !self_too)) continue;
        const Wind& w = p.winds[static_cast<std::size_t>(k)];
        if (!w.valid) continue;
        u.push_back(w.uvw[0]);
        v.push_back(w.uvw[1]);
    }
}
}  // namespace

void FlagDiscontinuities(WindProfile& profile, const WindProfile* before) {
    const bool use_before = before && before->heights_m == profile.heights_m;
    for (std::size_t h = 0; h < profile.winds.size(); ++h) {
        const Wind& w = profile.winds[h];
        if (!w.valid) continue;
        std::vector<double> u, v;
        AddNeighbours(profile, h, false, u, v);
        if (use_before) AddNeighbours(*before, h, true, u, v);
        if (static_cast<int>(u.size()) < kFewestNeighbours) continue;
        if (!Fits(w.uvw[0], u) || !Fits(w.uvw[1], v))
            profile.flags[h] = static_cast<int>(WindFlag::ContaminationSuspected);
    }
}

}  // namespace zarv::winds
