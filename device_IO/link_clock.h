#pragma once

#include <cstdint>

namespace zarv::device_io {

// The clock the stream keeps. A real bridge runs on the steady clock; the
// simulated controller can run its time faster than the wall clock, and the
// station then times its dwells, waits and records by that time, so that a
// dwell of the controller's is a dwell of the station's.
class LinkClock {
  public:
    virtual ~LinkClock() = default;
    // Nanoseconds on the link's time line (the steady clock's epoch).
    virtual std::int64_t nowNs() const = 0;
    // Seconds of link time that pass in one second of the wall clock.
    virtual double rate() const { return 1.0; }
    // How long a wait of link_ms lasts on the wall clock, rounded up so that
    // the link's time has passed when it ends.
    int wallMs(double link_ms) const;
};

// The steady clock, for every link that streams in real time.
const LinkClock& SteadyLinkClock();

}  // namespace zarv::device_io
