#pragma once

#include <QString>
#include <array>
#include <optional>

namespace zarv::station {

// The optional keys of config.txt that put the radar in physical units and say
// how its winds are made: none of them reaches the controller or the data
// files; the dwell journal keeps them.
struct RadarGeometry {
    std::optional<double> radar_frequency;         // Hz, the transmit carrier
    std::optional<double> range_offset;            // ns, the system delay taken off each gate's
    std::array<std::optional<double>, 3> zenith;   // degrees from vertical, per beam
    std::array<std::optional<double>, 3> azimuth;  // degrees from north towards east
    std::optional<double> station_latitude;        // degrees north
    std::optional<double> station_longitude;       // degrees east
    std::optional<double> station_altitude;        // m above sea level
    std::optional<double> snr_threshold;           // dB; the default when unset
    std::optional<int> dc_notch;                   // bins; 0 when unset
    std::optional<double> consensus_period;        // s, winds: one profile per period
    std::optional<double> consensus_window;        // m/s, the full width
    std::optional<double> consensus_min_fraction;  // 0 to 1

    bool operator==(const RadarGeometry&) const = default;
};

// One optional number of the geometry: its key, the range it must lie in, and
// where it is kept.
struct GeometryKey {
    const char* name;
    double low;
    double high;
    std::optional<double>* (*slot)(RadarGeometry&);
};

// The keys in the order they are read and echoed (dc_notch, a whole number,
// is read on its own).
const GeometryKey* GeometryKeys(int* count);
inline constexpr int kDcNotchMost = 16;

}  // namespace zarv::station
