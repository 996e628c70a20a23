#include "wind_profiler.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "consensus.h"
#include "station/run_config.h"
#include "wind_quality.h"

namespace zarv::winds {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Linear between a beam's gates; NaN outside them or next to a gate without value.
double AtHeight(const std::vector<double>& heights, const std::vector<double>& values, double h) {
    if (heights.empty() || h < heights.front() - 1e-6 || h > heights.back() + 1e-6) return kNaN;
    const auto at = std::lower_bound(heights.begin(), heights.end(), h - 1e-6);
    const std::size_t i =
        std::min(static_cast<std::size_t>(at - heights.begin()), heights.size() - 1);
    if (i == 0 || std::abs(heights[i] - h) < 1e-6) return values[i];
    const double f = (h - heights[i - 1]) / (heights[i] - heights[i - 1]);
    return values[i - 1] + f * (values[i] - values[i - 1]);
}
// The gate whose height is nearest, when h lies within the beam's gates; -1 when not.
int NearestGate(const std::vector<double>& heights, double h) {
    if (heights.empty() || h < heights.front() - 1e-6 || h > heights.back() + 1e-6) return -1;
    const auto at = std::lower_bound(heights.begin(), heights.end(), h);
    std::size_t i = std::min(static_cast<std::size_t>(at - heights.begin()), heights.size() - 1);
    if (i > 0 && h - heights[i - 1] < heights[i] - h) --i;
    return static_cast<int>(i);
}
}  // namespace

QString WindSettingsOf(const station::TRunConfig& config, WindSettings& settings) {
    const station::RadarGeometry& g = config.geometry;
    if (!g.radar_frequency) return QStringLiteral("config.txt gives no radar_frequency");
    for (std::size_t b = 0; b < 3; ++b) {
        if (!g.zenith[b] || !g.azimuth[b])
            return QStringLiteral("config.txt gives no beam%1_zenith and beam%1_azimuth")
                .arg(b + 1);
        settings.zenith_deg[b] = *g.zenith[b];
        settings.azimuth_deg[b] = *g.azimuth[b];
    }
    std::vector<BeamRadial> probe;
    for (std::size_t b = 0; b < 3; ++b)
        probe.push_back({settings.zenith_deg[b], settings.azimuth_deg[b], 0.0, 1.0});
    if (!SolveWind(probe).valid)
        return QStringLiteral("the three beams' directions do not determine u, v and w");
    settings.period_s = g.consensus_period.value_or(kDefaultConsensusPeriodS);
    settings.window_m_s = g.consensus_window.value_or(kDefaultConsensusWindow);
    settings.min_fraction = g.consensus_min_fraction.value_or(kDefaultConsensusMinFraction);
    return QString();
}

WindProfiler::WindProfiler(WindSettings settings, std::size_t kept)
    : settings_(settings), kept_(std::max<std::size_t>(kept, 1)) {}

qint64 WindProfiler::periodOf(const QDateTime& utc) const {
    const qint64 period_ms = std::llround(settings_.period_s * 1000);
    return utc.toMSecsSinceEpoch() / std::max<qint64>(period_ms, 1);
}

void WindProfiler::addDwell(const QDateTime& utc, int beam, const std::vector<double>& radial,
                            const std::vector<double>& ranges_m) {
    if (beam < 1 || beam > 3 || radial.size() != ranges_m.size()) return;
    const qint64 period = periodOf(utc);
    if (open_period_ >= 0 && period != open_period_) closePeriod();
    open_period_ = period;
    dwells_.push_back({beam, radial, ranges_m});
}

void WindProfiler::closePeriod() {
    if (open_period_ < 0 || dwells_.empty()) return;
    WindProfile profile = profileOf(open_period_);
    const qint64 period_ms = std::llround(settings_.period_s * 1000);
    const bool just_before =
        !profiles_.empty() && profiles_.back().middle.msecsTo(profile.middle) == period_ms;
    FlagDiscontinuities(profile, just_before ? &profiles_.back() : nullptr);
    profiles_.push_back(std::move(profile));
    while (profiles_.size() > kept_) profiles_.pop_front();
    dwells_.clear();
    open_period_ = -1;
}

WindProfile WindProfiler::profileOf(qint64 period) const {
    WindProfile out;
    const qint64 period_ms = std::llround(settings_.period_s * 1000);
    out.middle =
        QDateTime::fromMSecsSinceEpoch(period * period_ms + period_ms / 2, QTimeZone::utc());
    // Per beam and gate: the consensus of the period's dwells.
    std::array<std::vector<double>, 3> heights, velocity, error;
    std::array<std::vector<int>, 3> count, trusted;
    std::array<int, 3> dwells{};
    for (std::size_t b = 0; b < 3; ++b) {
        std::vector<const Dwell*> mine;
        for (const Dwell& d : dwells_)
            if (d.beam == static_cast<int>(b) + 1) mine.push_back(&d);
        dwells[b] = static_cast<int>(mine.size());
        if (mine.empty()) continue;
        const std::vector<double>& ranges = mine.front()->ranges;
        for (std::size_t g = 0; g < ranges.size(); ++g) {
            std::vector<double> values;
            for (const Dwell* d : mine)
                if (d->radial.size() == ranges.size()) values.push_back(d->radial[g]);
            trusted[b].push_back(static_cast<int>(std::count_if(
                values.begin(), values.end(), [](double x) { return std::isfinite(x); })));
            const Consensus c = ConsensusOf(values, static_cast<int>(mine.size()),
                                            settings_.window_m_s, settings_.min_fraction);
            heights[b].push_back(ranges[g] * std::cos(settings_.zenith_deg[b] * M_PI / 180));
            velocity[b].push_back(c.value);
            error[b].push_back(c.standard_error);
            count[b].push_back(c.count);
        }
    }
    // One grid for every period: the gates' ranges (the same on every beam) up
    // the most nearly vertical beam, whether or not that beam has a dwell here.
    const std::size_t steepest = static_cast<std::size_t>(
        std::min_element(settings_.zenith_deg.begin(), settings_.zenith_deg.end()) -
        settings_.zenith_deg.begin());
    const Dwell* any = dwells_.empty() ? nullptr : &dwells_.front();
    if (!any) return out;
    for (const double range : any->ranges)
        out.heights_m.push_back(range * std::cos(settings_.zenith_deg[steepest] * M_PI / 180));
    for (const double h : out.heights_m) {
        std::vector<BeamRadial> beams;
        for (std::size_t b = 0; b < 3; ++b)
            beams.push_back({settings_.zenith_deg[b], settings_.azimuth_deg[b],
                             AtHeight(heights[b], velocity[b], h),
                             AtHeight(heights[b], error[b], h)});
        out.winds.push_back(SolveWind(beams));
        std::vector<WindFlag> why;
        for (std::size_t b = 0; b < 3; ++b) {
            const int gate = NearestGate(heights[b], h);
            const auto at = static_cast<std::size_t>(std::max(gate, 0));
            out.counts[b].push_back(gate >= 0 ? count[b][at] : 0);
            why.push_back(BeamFlag(gate >= 0, dwells[b], gate >= 0 ? trusted[b][at] : 0,
                                   std::isfinite(beams[b].radial)));
        }
        out.flags.push_back(
            static_cast<int>(out.winds.back().valid ? WindFlag::Good : WindlessFlag(why)));
    }
    return out;
}

}  // namespace zarv::winds
