#include "sim_waveform.h"

#include <cmath>

namespace zarv::sim {

SimSample SimWaveform(std::int64_t frame, int beam, int gate, std::uint32_t pulse_period_counts) {
    const double t = static_cast<double>(frame) * (pulse_period_counts / kSimClockHz);
    const double amplitude = 2000.0 - 50.0 * gate;
    const double f = 2.0 * gate;
    const double phi = (beam - 1) * M_PI / 3.0;
    const double angle = 2.0 * M_PI * f * t + phi;
    return {static_cast<int>(std::lround(amplitude * std::cos(angle))),
            static_cast<int>(std::lround(amplitude * std::sin(angle)))};
}

}  // namespace zarv::sim
