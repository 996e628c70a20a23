#include "wind_feed.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "radar/dwell_spectrum.h"
#include "radar/radar_axes.h"
#include "radar/radar_feed.h"
#include "radar/spectral_moments.h"
#include "station/run_config.h"

namespace zarv::winds {

WindFeed::WindFeed(const radar::RadarFeed& feed, const station::TRunConfig& settings, Clock clock)
    : feed_(feed), settings_(settings), clock_(std::move(clock)) {}

// No dwell records between a dwell's placing and the next one's start.
bool WindFeed::takePlaced() {
    return takeAllBut(0);
}

// config.txt may be read again at every Start: new settings start new winds.
void WindFeed::followSettings() {
    WindSettings wanted;
    why_none_ = WindSettingsOf(settings_, wanted);
    if (!why_none_.isEmpty()) {
        profiler_.reset();
        return;
    }
    const WindSettings* now = profiler_ ? &profiler_->settings() : nullptr;
    if (!now || now->zenith_deg != wanted.zenith_deg || now->azimuth_deg != wanted.azimuth_deg ||
        now->period_s != wanted.period_s || now->window_m_s != wanted.window_m_s ||
        now->min_fraction != wanted.min_fraction)
        profiler_ = std::make_unique<WindProfiler>(wanted);
}

bool WindFeed::poll() {
    return takeAllBut(feed_.beam());
}

bool WindFeed::takeAllBut(int recording) {
    followSettings();
    const std::size_t closed = profiler_ ? profiler_->profiles().size() : 0;
    takeEndedDwells(recording);
    return profiler_ && profiler_->profiles().size() > closed;
}

void WindFeed::finish() {
    followSettings();
    takeEndedDwells(0);  // the run has ended: the current beam's dwell too
    if (profiler_) profiler_->closePeriod();
}

// Every dwell not taken yet but the one still recording (on `recording`), in the
// order they were recorded: a late look misses none whose records are still held.
void WindFeed::takeEndedDwells(int recording) {
    std::vector<std::pair<std::uint64_t, int>> ended;
    for (int beam = 1; beam <= radar::RadarFeed::kBeams; ++beam) {
        const std::uint64_t serial = feed_.dwellSerialOf(beam);
        if (beam != recording && serial != 0 &&
            serial != taken_[static_cast<std::size_t>(beam - 1)])
            ended.emplace_back(serial, beam);
    }
    std::sort(ended.begin(), ended.end());
    for (const auto& [serial, beam] : ended) {
        taken_[static_cast<std::size_t>(beam - 1)] = serial;
        takeDwell(beam);
    }
}

void WindFeed::takeDwell(int beam) {
    if (!profiler_) return;
    const double period_s = feed_.recordPeriodSeconds();
    const radar::RadarAxes axes = radar::AxesOf(settings_);
    if (period_s <= 0 || !axes.physical()) return;
    radar::StretchPlan plan;
    const std::vector<radar::SpectralMoments> gates =
        moments_.of(beam, radar::MomentOptionsOf(settings_), &plan);
    if (gates.empty()) return;
    std::vector<double> radial;
    std::vector<double> ranges;
    for (std::size_t g = 0; g < gates.size(); ++g) {
        radial.push_back(gates[g].valid ? axes.dopplerPosition(gates[g].mean_hz)
                                        : std::numeric_limits<double>::quiet_NaN());
        ranges.push_back(axes.gatePosition(static_cast<double>(g + 1)) * 1000);
    }
    profiler_->addDwell(stampOf(beam, plan, period_s), beam, radial, ranges);
}

// The middle of the records used, as the products stamp a dwell; the clock's
// time when the run has not placed the dwell.
QDateTime WindFeed::stampOf(int beam, const radar::StretchPlan& plan, double period_s) const {
    const QDateTime start = feed_.dwellStartOf(beam);
    if (!start.isValid()) return clock_();
    const double middle_s =
        (static_cast<double>(plan.first) + static_cast<double>(plan.stretches * kPoints) / 2) *
        period_s;
    return start.addMSecs(std::llround(middle_s * 1000));
}

}  // namespace zarv::winds
