#pragma once

#include <optional>

#include "spectral_moments.h"

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::radar {

inline constexpr double kSpeedOfLight = 299792458.0;  // m/s

// Range of a gate (1-based): c t / 2, t being the gate's delay after the pulse
// less the system delay.
double GateRangeMetres(int gate, double start_time_ns, double resolution_ns,
                       double range_offset_ns);
// Height above the radar of a range along a beam tipped zenith_deg from vertical.
double HeightMetres(double range_m, double zenith_deg);
// Radial velocity, positive away from the radar, of a Doppler frequency: an
// approaching echo has a positive frequency, so v = -lambda f / 2.
double RadialVelocity(double doppler_hz, double carrier_hz);
// The largest speed the record period tells apart: lambda / (4 T).
double NyquistVelocity(double record_period_s, double carrier_hz);

// How the radar view labels gates and Doppler: in km and m/s when config.txt
// gives the carrier, in gates and Hz when it does not.
struct RadarAxes {
    std::optional<double> range_first_m;  // gate 1's range, with its step
    double range_step_m = 0;
    std::optional<double> carrier_hz;

    bool physical() const { return carrier_hz.has_value(); }
    // Where gate g goes on a gate axis: its range in km, or g itself.
    double gatePosition(double gate) const;
    // Where a frequency goes on a Doppler axis: m/s, or Hz.
    double dopplerPosition(double hz) const;
};

RadarAxes AxesOf(const station::TRunConfig& settings);
// The moments as config.txt asks for them (snr_threshold, dc_notch).
MomentOptions MomentOptionsOf(const station::TRunConfig& settings);

}  // namespace zarv::radar
