#pragma once

#include <vector>

#include "doppler_spectrum.h"
#include "dwell_spectrum.h"
#include "radar_feed.h"
#include "spectral_moments.h"

namespace zarv::radar {

// The moments of every gate of a beam's latest dwell, as the products make
// them: the dwell's records cut into stretches of kPoints, each gate's spectra
// averaged without intermittent clutter. Run on the feed's (GUI) thread.
class DwellMoments {
  public:
    static constexpr int kPoints = 64;

    explicit DwellMoments(const RadarFeed& feed) : feed_(feed) {}
    // Empty when the dwell holds no whole stretch. plan, when given, says
    // which records were used.
    std::vector<SpectralMoments> of(int beam, const MomentOptions& options,
                                    StretchPlan* plan = nullptr);

  private:
    const RadarFeed& feed_;
    DopplerSpectrum spectrum_{kPoints};
    std::vector<std::vector<double>> spectra_;  // one gate's, reused
    RecordWindow window_;
};

// Is the radar seeing anything: of a dwell's gates, the fraction whose echo is
// trusted, and the median SNR of those.
struct EchoHealth {
    int gates = 0;
    int trusted = 0;
    double median_snr_db = 0;  // meaningful when trusted > 0
};
EchoHealth EchoHealthOf(const std::vector<SpectralMoments>& gates);

}  // namespace zarv::radar
