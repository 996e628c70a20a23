#include "echo_watch.h"

#include "monitoring/station_watch.h"
#include "radar/radar_axes.h"
#include "station/run_config.h"

namespace zarv::app {

EchoWatch::EchoWatch(const radar::RadarFeed& feed, const station::TRunConfig& settings,
                     monitoring::StationWatch& watch)
    : feed_(feed), settings_(settings), watch_(watch) {
    listener_ = feed_.addPlacedListener([this] { measure(); });
}

EchoWatch::~EchoWatch() {
    feed_.removePlacedListener(listener_);
}

void EchoWatch::measure() {
    // The dwell just placed is the one begun last.
    int beam = 0;
    std::uint64_t latest = 0;
    for (int b = 1; b <= radar::RadarFeed::kBeams; ++b)
        if (feed_.dwellSerialOf(b) > latest) {
            latest = feed_.dwellSerialOf(b);
            beam = b;
        }
    if (beam == 0) return;
    const radar::EchoHealth health =
        radar::EchoHealthOf(moments_.of(beam, radar::MomentOptionsOf(settings_)));
    if (health.gates > 0) watch_.showEcho(beam, health.gates, health.trusted, health.median_snr_db);
}

}  // namespace zarv::app
