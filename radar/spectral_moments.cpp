#include "spectral_moments.h"

#include <algorithm>
#include <cmath>

#include "doppler_spectrum.h"

namespace zarv::radar {

namespace {
// A floor for levels that are exactly zero, so that decibels stay finite.
constexpr double kTiny = 1e-12;
constexpr double kWindowVarianceBins = 1.0 / 3;

double Decibels(double value) {
    return 10.0 * std::log10(std::max(value, kTiny));
}

int Wrapped(int i, int n) {
    return ((i % n) + n) % n;
}

// The notched bins take the noise level of the others, so they neither look
// like an echo nor pull the noise down.
std::vector<double> Notched(const std::vector<double>& power, int averages, int notch,
                            double& noise) {
    const int n = static_cast<int>(power.size());
    if (notch <= 0 || 2 * notch - 1 >= n) {
        noise = HildebrandSekhonNoise(power, averages);
        return power;
    }
    std::vector<double> kept;
    for (int i = 0; i < n; ++i)
        if (std::abs(i - n / 2) >= notch) kept.push_back(power[static_cast<std::size_t>(i)]);
    noise = HildebrandSekhonNoise(kept, averages);
    std::vector<double> out(power);
    for (int i = n / 2 - notch + 1; i < n / 2 + notch; ++i)
        out[static_cast<std::size_t>(i)] = noise;
    return out;
}

// How far the echo reaches from the peak in one direction (+1 or -1) before a
// bin meets the noise level; `room` bins at most.
int Reach(const std::vector<double>& power, int peak, int step, double noise, int room) {
    const int n = static_cast<int>(power.size());
    int reach = 0;
    while (reach < room &&
           power[static_cast<std::size_t>(Wrapped(peak + step * (reach + 1), n))] > noise)
        ++reach;
    return reach;
}
}  // namespace

double NoiseOnlyThresholdDb(int points, int spectra) {
    const double n = std::max(points, 2);
    const double k = std::max(spectra, 1);
    const double many_points = 0.25 * std::max(0.0, std::log2(n / 64));
    const double few_points = points <= 16 ? 2.0 : 0.0;
    return -10 * std::log10(n) - 5 * std::log10(k) + 13.0 + 2.3 / std::sqrt(k) + many_points +
           few_points;
}

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

SpectralMoments MomentsOf(const std::vector<double>& measured, int averages, double record_period_s,
                          const MomentOptions& options) {
    SpectralMoments m;
    const int n = static_cast<int>(measured.size());
    if (n == 0 || record_period_s <= 0) return m;
    m.measured = true;
    const std::vector<double> power =
        Notched(measured, averages, options.dc_notch, m.noise_per_bin);
    m.peak_bin = static_cast<int>(std::max_element(power.begin(), power.end()) - power.begin());
    const int below = Reach(power, m.peak_bin, -1, m.noise_per_bin, n - 1);
    const int above = Reach(power, m.peak_bin, +1, m.noise_per_bin, n - 1 - below);
    m.first_bin = Wrapped(m.peak_bin - below, n);
    m.last_bin = Wrapped(m.peak_bin + above, n);
    double sum = 0;
    double first = 0;
    double second = 0;
    for (int offset = -below; offset <= above; ++offset) {
        const double excess =
            power[static_cast<std::size_t>(Wrapped(m.peak_bin + offset, n))] - m.noise_per_bin;
        if (excess <= 0) continue;  // a flat spectrum: the peak itself is noise
        sum += excess;
        first += excess * offset;
        second += excess * offset * offset;
    }
    const double bin_hz = 1.0 / (n * record_period_s);
    m.power = sum;
    m.power_db = Decibels(sum);
    m.snr_db = Decibels(sum / std::max(m.noise_per_bin * n, kTiny));
    if (sum <= 0) return m;
    const double mean_offset = first / sum;
    const double nyquist = n / 2 * bin_hz;
    double mean = BinFrequency(m.peak_bin, n, record_period_s) + mean_offset * bin_hz;
    mean = std::fmod(mean + nyquist, 2 * nyquist);  // folded into -1/(2T) .. 1/(2T)
    if (mean < 0) mean += 2 * nyquist;
    m.mean_hz = mean - nyquist;
    // The Hann window alone spreads a pure tone over a variance of 1/3 bin^2,
    // wherever it falls between bins: that much of the spread is not the echo's.
    const double variance = second / sum - mean_offset * mean_offset - kWindowVarianceBins;
    m.width_hz = std::sqrt(std::max(variance, 0.0)) * bin_hz;
    m.threshold_db = options.snr_threshold_db.value_or(NoiseOnlyThresholdDb(n, averages));
    m.valid = m.snr_db >= m.threshold_db;
    return m;
}

}  // namespace zarv::radar
