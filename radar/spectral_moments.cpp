#include "spectral_moments.h"

#include <algorithm>
#include <cmath>

#include "doppler_spectrum.h"

namespace zarv::radar {

namespace {
// A floor for levels that are exactly zero, so that decibels stay finite.
constexpr double kTiny = 1e-12;

double Decibels(double value) {
    return 10.0 * std::log10(std::max(value, kTiny));
}
}  // namespace

double HildebrandSekhonNoise(const std::vector<double>& power, int averages) {
    if (power.empty()) return 0;
    std::vector<double> sorted(power);
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    double squares = 0;
    double noise = sorted.front();
    for (std::size_t n = 1; n <= sorted.size(); ++n) {
        sum += sorted[n - 1];
        squares += sorted[n - 1] * sorted[n - 1];
        const double mean = sum / static_cast<double>(n);
        const double variance = squares / static_cast<double>(n) - mean * mean;
        if (variance * std::max(averages, 1) <= mean * mean) noise = mean;
    }
    return noise;
}

SpectralMoments MomentsOf(const std::vector<double>& power, int averages, double record_period_s) {
    SpectralMoments m;
    const int n = static_cast<int>(power.size());
    if (n == 0 || record_period_s <= 0) return m;
    m.noise_per_bin = HildebrandSekhonNoise(power, averages);
    m.peak_bin = static_cast<int>(std::max_element(power.begin(), power.end()) - power.begin());
    const double bin_hz = 1.0 / (n * record_period_s);
    double sum = 0;
    double first = 0;
    for (int i = 0; i < n; ++i) {
        const double excess = power[static_cast<std::size_t>(i)] - m.noise_per_bin;
        if (excess <= 0) continue;
        const int offset = ((i - m.peak_bin + n + n / 2) % n) - n / 2;
        sum += excess;
        first += excess * offset;
    }
    if (sum <= 0) return m;
    const double mean_offset = first / sum;
    double second = 0;
    for (int i = 0; i < n; ++i) {
        const double excess = power[static_cast<std::size_t>(i)] - m.noise_per_bin;
        if (excess <= 0) continue;
        const int offset = ((i - m.peak_bin + n + n / 2) % n) - n / 2;
        second += excess * (offset - mean_offset) * (offset - mean_offset);
    }
    const double nyquist = n / 2 * bin_hz;
    double mean = BinFrequency(m.peak_bin, n, record_period_s) + mean_offset * bin_hz;
    mean = std::fmod(mean + nyquist, 2 * nyquist);  // folded into -1/(2T) .. 1/(2T)
    if (mean < 0) mean += 2 * nyquist;
    m.mean_hz = mean - nyquist;
    m.power = sum;
    m.power_db = Decibels(sum);
    m.snr_db = Decibels(sum / std::max(m.noise_per_bin * n, kTiny));
    m.width_hz = std::sqrt(second / sum) * bin_hz;
    m.valid = true;
    return m;
}

}  // namespace zarv::radar
