#pragma once

#include <array>
#include <vector>

namespace zarv::winds {

// One beam's say at one height: its direction and its consensus radial
// velocity (positive away from the radar), with that velocity's standard error.
struct BeamRadial {
    double zenith_deg = 0;
    double azimuth_deg = 0;  // from north towards east
    double radial = 0;       // NaN: no consensus
    double error = 1;
};

struct Wind {
    std::array<double, 3> uvw{};    // m/s eastward, northward, upward; NaN when undetermined
    std::array<double, 3> error{};  // their standard errors, from the beams' through the geometry
    bool valid = false;
};

// u, v, w by weighted least squares from any number of beams:
//   radial = u sin(zenith) sin(azimuth) + v sin(zenith) cos(azimuth) + w cos(zenith).
// Invalid when the beams with a value do not determine all three.
Wind SolveWind(const std::vector<BeamRadial>& beams);

// Speed, and the direction the wind comes from in degrees from north.
double WindSpeed(const Wind& wind);
double WindFromDirection(const Wind& wind);

}  // namespace zarv::winds
