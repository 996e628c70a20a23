#pragma once

#include <optional>
#include <vector>

namespace zarv::radar {

// The SNR below which a gate's moments are not trusted unless config.txt says:
// what noise alone exceeds in at most one spectrum in 100 for `points` points
// and `spectra` spectra averaged. Noise's SNR falls 10 dB a decade of points and 5 a
// decade of spectra; the rest was measured on windowed noise spectra of 16 to
// 1024 points and 1 to 256 spectra (see the README).
double NoiseOnlyThresholdDb(int points, int spectra);

struct MomentOptions {
    // None: NoiseOnlyThresholdDb of the spectrum's own points and spectra.
    std::optional<double> snr_threshold_db;
    // Ground clutter: 0 keeps every bin; k replaces the bins within k - 1 of
    // 0 Hz by the noise level before the echo is looked for.
    int dc_notch = 0;
};

// What a Doppler spectrum says about the echo around its peak.
struct SpectralMoments {
    double noise_per_bin = 0;  // Hildebrand-Sekhon level
    double power = 0;          // the echo region's excess over the noise
    double power_db = 0;       // 10 log10(power)
    double snr_db = 0;         // power over the noise of the whole band, may be negative
    double mean_hz = 0;        // power-weighted mean frequency, within +-1/(2T)
    double width_hz = 0;       // power-weighted standard deviation, the window's own taken out
    int peak_bin = -1;
    int first_bin = -1;  // the echo region, from first to last going up (it may wrap)
    int last_bin = -1;
    bool measured = false;    // a spectrum was there to look at
    bool valid = false;       // measured, with an echo at or above the SNR threshold
    double threshold_db = 0;  // the threshold it was judged by
};

// The noise level of a spectrum averaged over `averages` blocks (Hildebrand and
// Sekhon, 1974): the mean of the largest set of lowest bins whose spread is no
// more than white noise averaged that many times would show.
double HildebrandSekhonNoise(const std::vector<double>& power, int averages);

// The moments of the echo region: from the peak out to where the spectrum first
// meets the noise level on each side. Frequencies are taken about the peak, so
// an echo that straddles the folding frequency keeps its mean and width.
SpectralMoments MomentsOf(const std::vector<double>& power, int averages, double record_period_s,
                          const MomentOptions& options = {});

}  // namespace zarv::radar
