#include "sim_waveform.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zarv::sim {

SimSample SimWaveform(std::int64_t frame, int beam, int gate, std::uint32_t pulse_period_counts) {
    return SimTone(frame, 2000.0 - 50.0 * gate, 2.0 * gate, (beam - 1) * M_PI / 3.0,
                   pulse_period_counts);
}

SimSample SimTone(std::int64_t frame, double amplitude, double hz, double phase,
                  std::uint32_t pulse_period_counts) {
    const double t = static_cast<double>(frame) * (pulse_period_counts / kSimClockHz);
    const double angle = 2.0 * M_PI * hz * t + phase;
    return {static_cast<int>(std::lround(amplitude * std::cos(angle))),
            static_cast<int>(std::lround(amplitude * std::sin(angle)))};
}

std::uint64_t SimMixed(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

double SimUniform(std::uint64_t bits) {
    return (static_cast<double>(bits >> 11) + 1.0) * (1.0 / 9007199254740992.0);
}

namespace {
int Held12(double value) {
    return static_cast<int>(std::clamp(std::lround(value), -2048L, 2047L));
}
}  // namespace

SimSample SimNoise(double sigma, std::uint64_t run, std::int64_t frame, int gate) {
    if (sigma <= 0) return {0, 0};
    const std::uint64_t key =
        SimMixed(run * 0x100000001B3ULL ^ SimMixed(static_cast<std::uint64_t>(frame) * 64 +
                                                   static_cast<std::uint64_t>(gate)));
    // Box-Muller: one pair of uniforms gives the two independent components.
    const double radius = sigma * std::sqrt(-2.0 * std::log(SimUniform(key)));
    const double angle = 2.0 * M_PI * SimUniform(SimMixed(key));
    return {static_cast<int>(std::lround(radius * std::cos(angle))),
            static_cast<int>(std::lround(radius * std::sin(angle)))};
}

SimSample SimNoisySample(SimSample signal, SimSample noise) {
    return {Held12(signal.ip + noise.ip), Held12(signal.qp + noise.qp)};
}

double SimNoiseFromEnvironment() {
    const QString text = qEnvironmentVariable("ZARV_SIM_NOISE");
    if (text.isEmpty()) return 0;
    bool ok = false;
    const double sigma = text.toDouble(&ok);
    if (ok && sigma >= 0 && sigma <= 2000) return sigma;
    std::fprintf(stderr, "ZARV_SIM_NOISE ignored: '%s' is not a number of counts from 0 to 2000\n",
                 text.toLocal8Bit().constData());
    return 0;
}

}  // namespace zarv::sim
