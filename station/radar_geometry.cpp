#include "radar_geometry.h"

namespace zarv::station {

namespace {
template <int Beam>
std::optional<double>* Zenith(RadarGeometry& g) {
    return &g.zenith[Beam - 1];
}
template <int Beam>
std::optional<double>* Azimuth(RadarGeometry& g) {
    return &g.azimuth[Beam - 1];
}

const GeometryKey kKeys[] = {
    {"radar_frequency", 1e3, 1e12, [](RadarGeometry& g) { return &g.radar_frequency; }},
    {"range_offset", -1e6, 1e6, [](RadarGeometry& g) { return &g.range_offset; }},
    {"beam1_zenith", 0, 90, &Zenith<1>},
    {"beam1_azimuth", 0, 360, &Azimuth<1>},
    {"beam2_zenith", 0, 90, &Zenith<2>},
    {"beam2_azimuth", 0, 360, &Azimuth<2>},
    {"beam3_zenith", 0, 90, &Zenith<3>},
    {"beam3_azimuth", 0, 360, &Azimuth<3>},
    {"station_latitude", -90, 90, [](RadarGeometry& g) { return &g.station_latitude; }},
    {"station_longitude", -180, 360, [](RadarGeometry& g) { return &g.station_longitude; }},
    {"station_altitude", -1000, 10000, [](RadarGeometry& g) { return &g.station_altitude; }},
    {"snr_threshold", -60, 60, [](RadarGeometry& g) { return &g.snr_threshold; }},
    {"consensus_period", 60, 86400, [](RadarGeometry& g) { return &g.consensus_period; }},
    {"consensus_window", 0.1, 100, [](RadarGeometry& g) { return &g.consensus_window; }},
    {"consensus_min_fraction", 0, 1, [](RadarGeometry& g) { return &g.consensus_min_fraction; }},
};
}  // namespace

const GeometryKey* GeometryKeys(int* count) {
    *count = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);
    return kKeys;
}

}  // namespace zarv::station
