#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zarv::sim {

// Where the simulated radar looks: the carrier, each beam's direction and the
// gates' ranges. The demo's radar unless the station's config.txt says more.
struct SimGeometry {
    double carrier_hz = 449e6;
    std::array<double, 3> zenith_deg{0, 15, 15};
    std::array<double, 3> azimuth_deg{0, 90, 0};
    double start_time_ns = 3000;
    double resolution_ns = 150;
    double range_offset_ns = 0;
    double record_period_s = 0.01;  // ipp x integrations: where outliers may fall
};

// The wind at one height; between two the wind changes linearly, beyond the
// first and the last it stays.
struct SimWindLayer {
    double height_m = 0;
    double u = 0, v = 0, w = 0;  // m/s eastward, northward, upward
};

// A simulated atmosphere: each beam's echo carries the Doppler shift its
// direction and the carrier imply for the wind at its gate's height, and now and
// then a gate of a dwell carries something else (an aircraft, a bird).
struct SimAtmosphere {
    // Something passing through a gate for a while: a bird.
    struct Passage {
        double start_s = 0;
        double hz = 0;
    };
    static constexpr double kBirdSeconds = 1.3;  // in the beam
    static constexpr double kBirdLatestS = 2.0;  // the latest start into a dwell
    static constexpr double kBirdAmplitude = 3000;

    std::vector<SimWindLayer> wind;  // by height
    double outlier_rate = 0;         // the share of (dwell, gate) pairs with an outlier
    double bird_rate = 0;            // the share of (dwell, gate) pairs a bird passes through
    double clutter = 0;              // amplitude of a steady echo at 0 Hz in every gate
    double interference_hz = 0;      // a line at this frequency in every gate,
    double interference = 0;         // of this amplitude

    // ZARV_SIM_WIND=U,V,W (the same at every height) or U,V,W@H;U,V,W@H;...
    // (H in metres above the radar); ZARV_SIM_OUTLIERS=RATE and
    // ZARV_SIM_BIRDS=RATE (0 to 1); ZARV_SIM_CLUTTER=AMPLITUDE;
    // ZARV_SIM_INTERFERENCE=HZ,AMPLITUDE. Amplitudes in counts (the echo's is
    // 300 less 5 a gate). Without ZARV_SIM_WIND, nothing; a bad value is said on
    // standard error and left out.
    static std::optional<SimAtmosphere> FromEnvironment();
    // The text of ZARV_SIM_WIND: empty, or why it is refused.
    static QString Parse(const QString& text, std::vector<SimWindLayer>& layers);

    SimWindLayer windAt(double height_m) const;
    // Positive away from the radar.
    double radialVelocity(const SimGeometry& g, int beam, int gate) const;
    double dopplerHz(const SimGeometry& g, int beam, int gate) const;
    // An outlier's Doppler shift for this gate of this trigger run, if it has one.
    std::optional<double> outlierHz(std::uint64_t run, int gate, double record_period_s) const;
    // The bird passing through this gate in this trigger run, if one does.
    std::optional<Passage> birdOf(std::uint64_t run, int gate, double record_period_s) const;
};

double SimGateRangeMetres(const SimGeometry& g, int gate);

}  // namespace zarv::sim
