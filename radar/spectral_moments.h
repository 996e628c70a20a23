#pragma once

#include <vector>

namespace zarv::radar {

// What a Doppler spectrum says about the echo above its noise.
struct SpectralMoments {
    double noise_per_bin = 0;  // Hildebrand-Sekhon level
    double power = 0;          // sum of the bins' excess over the noise
    double power_db = 0;       // 10 log10(power)
    double snr_db = 0;         // power over the noise of all bins
    double mean_hz = 0;        // power-weighted mean frequency, within +-1/(2T)
    double width_hz = 0;       // power-weighted standard deviation about the mean
    int peak_bin = -1;
    bool valid = false;  // false for an empty spectrum or one of noise alone
};

// The noise level of a spectrum averaged over `averages` blocks (Hildebrand and
// Sekhon, 1974): the mean of the largest set of lowest bins whose spread is no
// more than white noise averaged that many times would show.
double HildebrandSekhonNoise(const std::vector<double>& power, int averages);

// The moments of the bins above the noise. Frequencies are taken about the peak,
// so an echo that straddles the folding frequency keeps its mean and width.
SpectralMoments MomentsOf(const std::vector<double>& power, int averages, double record_period_s);

}  // namespace zarv::radar
