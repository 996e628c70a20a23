#pragma once

#include <cstdint>

namespace zarv::sim {

// The signal the simulated controller streams: for frame n of a trigger run,
// beam direction b and gate g, t = n x pulse period,
//   A = 2000 - 50 g, f = 2 g Hz, phi = (b - 1) pi / 3,
//   ip = lround(A cos(2 pi f t + phi)), qp = lround(A sin(2 pi f t + phi)).
struct SimSample {
    int ip;
    int qp;
};

SimSample SimWaveform(std::int64_t frame, int beam, int gate, std::uint32_t pulse_period_counts);
// A tone of the given amplitude and frequency, as the waveform's gates are.
SimSample SimTone(std::int64_t frame, double amplitude, double hz, double phase,
                  std::uint32_t pulse_period_counts);

// splitmix64: a counter-based generator, so that no state travels between frames.
std::uint64_t SimMixed(std::uint64_t x);
// Uniform in (0, 1] from the generator's bits: never 0, so that its logarithm is finite.
double SimUniform(std::uint64_t bits);

// Thermal noise: independent Gaussian values of standard deviation sigma counts
// for ip and qp, the same whenever the same (run, frame, gate) is asked again,
// so that a frame read twice does not change.
SimSample SimNoise(double sigma, std::uint64_t run, std::int64_t frame, int gate);
// The signal plus noise, held to what 12 bits can carry.
SimSample SimNoisySample(SimSample signal, SimSample noise);
// ZARV_SIM_NOISE=SIGMA (counts, 0 to 2000); 0 when unset. A bad value is said on
// standard error and ignored.
double SimNoiseFromEnvironment();

// A sample as it travels: the 12-bit two's complement word, low byte first.
inline std::uint16_t SimWireWord(int value) {
    return static_cast<std::uint16_t>(value & 0x0FFF);
}

constexpr int kSimFrameBytes = 148;
constexpr double kSimClockHz = 60e6;

}  // namespace zarv::sim
