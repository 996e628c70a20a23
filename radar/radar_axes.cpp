#include "radar_axes.h"

#include <cmath>

#include "station/run_config.h"

namespace zarv::radar {

double GateRangeMetres(int gate, double start_time_ns, double resolution_ns,
                       double range_offset_ns) {
    const double delay_ns = start_time_ns + (gate - 1) * resolution_ns - range_offset_ns;
    return kSpeedOfLight * delay_ns * 1e-9 / 2;
}

double HeightMetres(double range_m, double zenith_deg) {
    return range_m * std::cos(zenith_deg * M_PI / 180);
}

double RadialVelocity(double doppler_hz, double carrier_hz) {
    return -kSpeedOfLight / carrier_hz * doppler_hz / 2;
}

double NyquistVelocity(double record_period_s, double carrier_hz) {
    return kSpeedOfLight / carrier_hz / (4 * record_period_s);
}

double RadarAxes::gatePosition(double gate) const {
    if (!physical() || !range_first_m) return gate;
    return (*range_first_m + (gate - 1) * range_step_m) / 1000;
}

double RadarAxes::dopplerPosition(double hz) const {
    return physical() ? RadialVelocity(hz, *carrier_hz) : hz;
}

RadarAxes AxesOf(const station::TRunConfig& settings) {
    RadarAxes axes;
    const station::RadarGeometry& g = settings.geometry;
    if (!g.radar_frequency) return axes;
    axes.carrier_hz = g.radar_frequency;
    const double offset = g.range_offset.value_or(0);
    axes.range_first_m = GateRangeMetres(1, settings.start_time, settings.resolution, offset);
    axes.range_step_m =
        GateRangeMetres(2, settings.start_time, settings.resolution, offset) - *axes.range_first_m;
    return axes;
}

MomentOptions MomentOptionsOf(const station::TRunConfig& settings) {
    MomentOptions options;
    options.snr_threshold_db = settings.geometry.snr_threshold;
    options.dc_notch = settings.geometry.dc_notch.value_or(0);
    return options;
}

}  // namespace zarv::radar
