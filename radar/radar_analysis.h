#pragma once

#include <memory>
#include <vector>

#include "doppler_spectrum.h"
#include "radar_feed.h"
#include "spectral_moments.h"

namespace zarv::radar {

// One gate's Doppler spectrum and its moments.
struct GateSpectrum {
    std::vector<double> power;  // bin 0 at -1/(2T)
    int blocks = 0;             // spectra averaged
    SpectralMoments moments;
};

// The numbers the radar view shows, from complex series: a gate's spectrum of
// `points` values averaged over up to `blocks` blocks, and the moments of every
// gate. The FFT is planned again only when the points change.
class RadarAnalysis {
  public:
    void setPoints(int points);
    int points() const { return spectrum_ ? spectrum_->points() : 0; }
    // The SNR threshold and the DC notch the moments are taken with.
    void setMomentOptions(const MomentOptions& options) { options_ = options; }
    const MomentOptions& momentOptions() const { return options_; }

    GateSpectrum analyse(const std::vector<Complex>& series, int blocks, double record_period_s);
    // The same from the feed's newest records, for one gate or for every gate.
    GateSpectrum analyse(const RecordWindow& window, int gate, int blocks, double record_period_s);
    std::vector<SpectralMoments> profile(const RecordWindow& window, int blocks,
                                         double record_period_s);

  private:
    std::unique_ptr<DopplerSpectrum> spectrum_;
    MomentOptions options_;
};

}  // namespace zarv::radar
