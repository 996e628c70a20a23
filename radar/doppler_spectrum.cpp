#include "doppler_spectrum.h"

#include <fftw3.h>

#include <cmath>
#include <mutex>
#include <stdexcept>

namespace zarv::radar {

namespace {
// FFTW's planner is not reentrant; executing a plan is.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

bool IsPowerOfTwo(int n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

double BinFrequency(int bin, int points, double record_period_s) {
    return (bin - points / 2) / (points * record_period_s);
}

DopplerSpectrum::DopplerSpectrum(int points) : points_(points) {
    if (!IsPowerOfTwo(points)) throw std::invalid_argument("spectrum points: a power of two");
    const auto n = static_cast<std::size_t>(points);
    window_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = std::sin(M_PI * static_cast<double>(i) / static_cast<double>(n));
        window_[i] = s * s;  // periodic Hann
        window_power_ += window_[i] * window_[i];
    }
    std::lock_guard<std::mutex> lock(plannerMutex());
    auto* in = fftw_alloc_complex(n);
    auto* out = fftw_alloc_complex(n);
    in_ = in;
    out_ = out;
    plan_ = fftw_plan_dft_1d(points, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
}

DopplerSpectrum::~DopplerSpectrum() {
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(plan_));
    fftw_free(in_);
    fftw_free(out_);
}

// Adds the windowed spectrum of the block from value `at`, times scale, to power.
template <typename ValueAt>
void DopplerSpectrum::transform(ValueAt value_at, std::size_t at, double scale,
                                std::vector<double>& power) {
    const auto n = static_cast<std::size_t>(points_);
    auto* in = static_cast<fftw_complex*>(in_);
    auto* out = static_cast<fftw_complex*>(out_);
    for (std::size_t i = 0; i < n; ++i) {
        const Complex x = value_at(at + i);
        in[i][0] = x.real() * window_[i];
        in[i][1] = x.imag() * window_[i];
    }
    fftw_execute(static_cast<fftw_plan>(plan_));
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = (i + n / 2) % n;  // bin 0 is the most negative frequency
        power[i] += (out[k][0] * out[k][0] + out[k][1] * out[k][1]) * scale;
    }
}

template <typename ValueAt>
int DopplerSpectrum::computeFrom(ValueAt value_at, std::size_t count, int blocks,
                                 std::vector<double>& power) {
    const auto n = static_cast<std::size_t>(points_);
    const int used = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(std::max(blocks, 0)), count / n));
    power.assign(used > 0 ? n : 0, 0.0);
    const std::size_t first = count - static_cast<std::size_t>(used) * n;
    const double scale = 1.0 / (static_cast<double>(n) * window_power_ * used);
    for (int b = 0; b < used; ++b)
        transform(value_at, first + static_cast<std::size_t>(b) * n, scale, power);
    return used;
}

void DopplerSpectrum::stretchSpectra(const std::int16_t* pairs, std::size_t stride,
                                     std::size_t first, std::size_t stretches,
                                     std::vector<std::vector<double>>& spectra) {
    const auto n = static_cast<std::size_t>(points_);
    const auto value_at = [pairs, stride](std::size_t i) {
        const std::int16_t* p = pairs + i * stride;
        return Complex(p[0], p[1]);
    };
    const double scale = 1.0 / (static_cast<double>(n) * window_power_);
    spectra.resize(stretches);
    for (std::size_t k = 0; k < stretches; ++k) {
        spectra[k].assign(n, 0.0);
        transform(value_at, first + k * n, scale, spectra[k]);
    }
}

int DopplerSpectrum::compute(const Complex* series, std::size_t count, int blocks,
                             std::vector<double>& power) {
    return computeFrom([series](std::size_t i) { return series[i]; }, count, blocks, power);
}

int DopplerSpectrum::compute(const std::int16_t* pairs, std::size_t count, std::size_t stride,
                             int blocks, std::vector<double>& power) {
    return computeFrom(
        [pairs, stride](std::size_t i) {
            const std::int16_t* p = pairs + i * stride;
            return Complex(p[0], p[1]);
        },
        count, blocks, power);
}

}  // namespace zarv::radar
