#pragma once

#include "radar/dwell_moments.h"
#include "radar/radar_feed.h"

namespace zarv::monitoring {
class StationWatch;
}  // namespace zarv::monitoring
namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::app {

// Is the radar seeing anything: as each dwell is placed, how many of its gates
// hold an echo above the SNR threshold and their median SNR go to the board,
// for the metrics and the alerts that watch a fleet. On the GUI thread,
// between dwells.
class EchoWatch {
  public:
    EchoWatch(const radar::RadarFeed& feed, const station::TRunConfig& settings,
              monitoring::StationWatch& watch);
    ~EchoWatch();
    EchoWatch(const EchoWatch&) = delete;
    EchoWatch& operator=(const EchoWatch&) = delete;

    // Measures the dwell placed last.
    void measure();

  private:
    const radar::RadarFeed& feed_;
    const station::TRunConfig& settings_;
    monitoring::StationWatch& watch_;
    radar::DwellMoments moments_{feed_};
    int listener_ = -1;
};

}  // namespace zarv::app
