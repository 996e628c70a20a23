#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <set>

namespace zarv::sim {

// Where the simulated controller takes its time from. The controller waits only
// through here, telling whether anything but a notify could end the wait early:
// an idle wait (no stream flowing) ends at its deadline or at a notify.
class SimClock {
  public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~SimClock() = default;
    virtual time_point now() const = 0;
    // Seconds of the controller's time in one second of the wall clock.
    virtual double rate() const { return 1.0; }
    // The controller's time without the idle waits it skipped: what a station
    // keeps its dwells by. A skip happens only while nothing streams, so the
    // stream's pace is the same on both.
    virtual time_point paced() const { return now(); }
    // A moment of the controller's time on the paced line.
    virtual time_point pacedAt(time_point t) const { return t; }
    // still_idle, asked with the lock held again, says whether nothing has
    // started meanwhile (a write can slip in between a wait's time-out and its
    // return); none means the wait is taken as it was asked.
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           time_point until, bool idle,
                           const std::function<bool()>& still_idle = {}) = 0;
    // The station waited on its own until t (a relay switch, a pause before it
    // opens the controller again) with nothing streaming. Only a clock that
    // moves when it is waited for takes note.
    virtual void stationWaitedUntil(time_point) {}
    // The station acts at t: a clock that moves only when waited for does not
    // pass it until that hold is released.
    virtual void holdAt(time_point) {}
    virtual void releaseHoldAt(time_point) {}
    // Whether the controller's time is the wall clock's, second for second.
    virtual bool keepsWallTime() const { return rate() == 1.0; }

    // The wall clock: the controller's time-outs take as long as they say.
    static std::shared_ptr<SimClock> steady();
    // The wall clock that skips idle waits: a time-out that nothing can end early
    // passes after a millisecond, and the controller's time moves on by the rest.
    static std::shared_ptr<SimClock> skippingIdle();
    // Time that runs rate times as fast as the wall clock, idle waits skipped:
    // a dwell of ten seconds passes in one at rate 10. The station keeps its
    // dwells and waits by the controller's clock, so it runs as fast.
    static std::shared_ptr<SimClock> fast(double rate);
    // Time that moves only while the station waits for the controller, at rate
    // times the wall clock: a starved process sees the stream it would see idle.
    static std::shared_ptr<SimClock> virtualTime(double rate);
};

// ZARV_SIM_SPEED=N (above 0, at most 1000): the controller's time runs N times
// as fast as the wall clock. Unset, it is the wall clock. ZARV_SIM_CLOCK=virtual:
// the time moves only while the station waits for it (at ZARV_SIM_SPEED, or 1).
std::shared_ptr<SimClock> SimClockFromEnvironment();

class SteadySimClock : public SimClock {
  public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   time_point until, bool, const std::function<bool()>& = {}) override {
        cv.wait_until(lock, until);
    }
};

class SkippingSimClock : public SimClock {
  public:
    explicit SkippingSimClock(double rate = 1.0);
    time_point now() const override { return paced() + skipped(); }
    double rate() const override;
    time_point paced() const override;
    time_point pacedAt(time_point t) const override { return t - skipped(); }
    // From now on the controller's time runs at this rate; it goes on from
    // where it is. Waits already begun keep their end on the wall clock.
    void setRate(double rate);
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   time_point until, bool idle,
                   const std::function<bool()>& still_idle = {}) override;
    // Time skipped so far.
    std::chrono::nanoseconds skipped() const {
        return std::chrono::nanoseconds(skipped_ns_.load());
    }

  private:
    // The wall clock's time at which the controller's time reaches t.
    time_point wallAt(time_point t) const;

    // At wall, the paced time was paced, and it runs at rate from there.
    struct Anchor {
        time_point wall;
        time_point paced;
        double rate = 1.0;
        time_point pacedAt(time_point wall_now) const;
    };
    mutable std::mutex anchor_mutex_;
    Anchor anchor_;
    std::atomic<std::int64_t> skipped_ns_{0};
};

// The controller's time moves only when a wait on it runs to its end: a read
// waiting for bytes takes (until - now) / rate of the wall clock and moves the
// time to until, however late the reader wakes; a wait that a write, purge or
// abort ends early moves nothing, as the event happened when it began. Waits the
// station makes on its own (a relay switch, a pause before reopening) move the
// time when they end. A reader held up by the machine's load holds the
// controller's time with it: nothing piles up that an idle machine would not
// see. Waits the controller makes for its own faults (a stall) pass all the same.
class VirtualSimClock : public SimClock {
  public:
    explicit VirtualSimClock(double rate = 1.0);
    time_point now() const override { return time_point(std::chrono::nanoseconds(now_ns_.load())); }
    double rate() const override { return rate_.load(); }
    void setRate(double rate);
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   time_point until, bool idle,
                   const std::function<bool()>& still_idle = {}) override;
    void stationWaitedUntil(time_point t) override;
    void holdAt(time_point t) override;
    void releaseHoldAt(time_point t) override;
    bool keepsWallTime() const override { return false; }

  private:
    static constexpr std::int64_t kNoHold = std::numeric_limits<std::int64_t>::max();
    time_point held() const { return time_point(std::chrono::nanoseconds(hold_ns_.load())); }
    void advanceTo(time_point t);

    std::atomic<std::int64_t> now_ns_;
    std::mutex holds_mutex_;
    std::multiset<std::int64_t> holds_;
    std::atomic<std::int64_t> hold_ns_{kNoHold};  // the earliest of holds_
    std::atomic<double> rate_;
};

}  // namespace zarv::sim
