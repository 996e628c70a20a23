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
    // Whether the link's time is the wall clock's, second for second: the
    // calendar then is the system's.
    virtual bool keepsWallTime() const { return rate() == 1.0; }
    // The station waited on the wall clock, with nothing streaming, for the
    // link's time to reach ns. A clock that moves only when waited for (the
    // simulated controller's virtual time) moves there; others already have.
    virtual void stationWaitedUntilNs(std::int64_t /*ns*/) const {}
    // The station acts at the link's time ns (a dwell's end, the end of a
    // recording): a clock that moves only when waited for stands still there
    // until that hold is released, so that the station acts on time however
    // late its thread wakes. Others run on. Holds may overlap; the earliest holds.
    virtual void holdAtNs(std::int64_t /*ns*/) const {}
    virtual void releaseHoldAtNs(std::int64_t /*ns*/) const {}
    // How long a wait of link_ms lasts on the wall clock, rounded up so that
    // the link's time has passed when it ends.
    int wallMs(double link_ms) const;
};

// The steady clock, for every link that streams in real time.
const LinkClock& SteadyLinkClock();

}  // namespace zarv::device_io
