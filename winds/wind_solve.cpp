#include "wind_solve.h"

#include <cmath>
#include <limits>

namespace zarv::winds {

namespace {
using Matrix = std::array<std::array<double, 3>, 3>;

double Determinant(const Matrix& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The inverse by cofactors; the caller has checked the determinant.
Matrix Inverse(const Matrix& m, double det) {
    Matrix inv{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] =
                (m[static_cast<std::size_t>(r0)][static_cast<std::size_t>(c0)] *
                     m[static_cast<std::size_t>(r1)][static_cast<std::size_t>(c1)] -
                 m[static_cast<std::size_t>(r0)][static_cast<std::size_t>(c1)] *
                     m[static_cast<std::size_t>(r1)][static_cast<std::size_t>(c0)]) /
                det;
        }
    return inv;
}
}  // namespace

Wind SolveWind(const std::vector<BeamRadial>& beams) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    Wind wind;
    wind.uvw = {kNaN, kNaN, kNaN};
    wind.error = {kNaN, kNaN, kNaN};
    Matrix normal{};
    std::array<double, 3> right{};
    int used = 0;
    for (const BeamRadial& beam : beams) {
        if (!std::isfinite(beam.radial)) continue;
        const double z = beam.zenith_deg * M_PI / 180;
        const double a = beam.azimuth_deg * M_PI / 180;
        const std::array<double, 3> row{std::sin(z) * std::sin(a), std::sin(z) * std::cos(a),
                                        std::cos(z)};
        const double sigma = std::isfinite(beam.error) && beam.error > 0 ? beam.error : 1.0;
        const double weight = 1 / (sigma * sigma);
        for (std::size_t i = 0; i < 3; ++i) {
            right[i] += weight * row[i] * beam.radial;
            for (std::size_t j = 0; j < 3; ++j) normal[i][j] += weight * row[i] * row[j];
        }
        ++used;
    }
    const double det = Determinant(normal);
    if (used < 3 || std::abs(det) < 1e-9) return wind;
    const Matrix covariance = Inverse(normal, det);
    for (std::size_t i = 0; i < 3; ++i) {
        wind.uvw[i] = 0;
        for (std::size_t j = 0; j < 3; ++j) wind.uvw[i] += covariance[i][j] * right[j];
        wind.error[i] = std::sqrt(covariance[i][i]);
    }
    wind.valid = true;
    return wind;
}

double WindSpeed(const Wind& wind) {
    return std::hypot(wind.uvw[0], wind.uvw[1]);
}

double WindFromDirection(const Wind& wind) {
    const double degrees = std::atan2(-wind.uvw[0], -wind.uvw[1]) * 180 / M_PI;
    return degrees < 0 ? degrees + 360 : degrees;
}

}  // namespace zarv::winds
