#include "dwell_spectrum.h"

#include <algorithm>

namespace zarv::radar {

StretchPlan PlanStretches(std::size_t dwell_records, std::size_t held, int points) {
    StretchPlan plan;
    if (points < 1) return plan;
    const auto n = static_cast<std::size_t>(points);
    const std::size_t full = dwell_records / n;
    const std::size_t tail = dwell_records - full * n;  // after the last whole stretch
    const std::size_t at_hand = held > tail ? (held - tail) / n : 0;
    plan.stretches = std::min({full, at_hand, StretchPlan::kMostStretches});
    plan.first = (full - plan.stretches) * n;
    return plan;
}

namespace {
double Median(std::vector<double>& values) {
    const std::size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half),
                     values.end());
    const double upper = values[half];
    if (values.size() % 2 == 1) return upper;
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
    return (lower + upper) / 2;
}

std::vector<double> BinMedians(const std::vector<std::vector<double>>& spectra) {
    const std::size_t bins = spectra.front().size();
    std::vector<double> medians(bins);
    std::vector<double> column(spectra.size());
    for (std::size_t i = 0; i < bins; ++i) {
        for (std::size_t k = 0; k < spectra.size(); ++k) column[k] = spectra[k][i];
        medians[i] = Median(column);
    }
    return medians;
}

bool Dominated(const std::vector<double>& spectrum, const std::vector<double>& medians) {
    for (std::size_t i = 0; i < spectrum.size(); ++i)
        if (spectrum[i] > kClutterRatio * medians[i]) return true;
    return false;
}
}  // namespace

DwellSpectrum AverageWithoutIntermittentClutter(const std::vector<std::vector<double>>& spectra) {
    DwellSpectrum out;
    out.stretches = static_cast<int>(spectra.size());
    if (spectra.empty() || spectra.front().empty()) return out;
    const bool judged = out.stretches >= kFewestToJudge;
    const std::vector<double> medians = judged ? BinMedians(spectra) : std::vector<double>{};
    out.power.assign(spectra.front().size(), 0.0);
    for (const std::vector<double>& s : spectra) {
        if (judged && Dominated(s, medians)) continue;
        for (std::size_t i = 0; i < s.size(); ++i) out.power[i] += s[i];
        ++out.kept;
    }
    // Every spectrum dominated somewhere (birds in each): nothing to trust.
    if (out.kept == 0) {
        out.power.clear();
        return out;
    }
    for (double& p : out.power) p /= out.kept;
    return out;
}

}  // namespace zarv::radar
