#include "wind_feed.h"

#include <cmath>
#include <limits>

#include "radar/radar_axes.h"
#include "radar/radar_feed.h"
#include "station/run_config.h"

namespace zarv::winds {

WindFeed::WindFeed(const radar::RadarFeed& feed, const station::TRunConfig& settings, Clock clock)
    : feed_(feed), settings_(settings), clock_(std::move(clock)) {
    analysis_.setPoints(kPoints);
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
    followSettings();
    const int beam = feed_.beam();
    const std::uint64_t fed = feed_.recordsFed();
    const std::size_t closed = profiler_ ? profiler_->profiles().size() : 0;
    if (beam != beam_) {
        if (beam_ != 0 && fed_ > fed_at_beam_start_) takeDwell(beam_);
        beam_ = beam;
        fed_at_beam_start_ = fed_;
    }
    fed_ = fed;
    return profiler_ && profiler_->profiles().size() > closed;
}

void WindFeed::finish() {
    poll();  // what came since the last look counts too
    if (beam_ != 0 && fed_ > fed_at_beam_start_) takeDwell(beam_);
    fed_at_beam_start_ = fed_;
    if (profiler_) profiler_->closePeriod();
}

void WindFeed::takeDwell(int beam) {
    if (!profiler_) return;
    const double period_s = feed_.recordPeriodSeconds();
    const radar::RadarAxes axes = radar::AxesOf(settings_);
    if (period_s <= 0 || !axes.physical()) return;
    radar::MomentOptions options;
    options.snr_threshold_db =
        settings_.geometry.snr_threshold.value_or(radar::kDefaultSnrThresholdDb);
    options.dc_notch = settings_.geometry.dc_notch.value_or(0);
    analysis_.setMomentOptions(options);
    feed_.latest(beam, static_cast<std::size_t>(kPoints * kBlocks), window_);
    const std::vector<radar::SpectralMoments> moments =
        analysis_.profile(window_, kBlocks, period_s);
    std::vector<double> radial;
    std::vector<double> ranges;
    for (std::size_t g = 0; g < moments.size(); ++g) {
        radial.push_back(moments[g].valid ? axes.dopplerPosition(moments[g].mean_hz)
                                          : std::numeric_limits<double>::quiet_NaN());
        ranges.push_back(axes.gatePosition(static_cast<double>(g) + 1) * 1000);
    }
    profiler_->addDwell(clock_(), beam, radial, ranges);
}

}  // namespace zarv::winds
