#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace zarv::sim {

// Where the simulated controller takes its time from. The controller waits only
// through here, telling whether anything but a notify could end the wait early:
// an idle wait (no stream flowing) ends at its deadline or at a notify.
class SimClock {
  public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~SimClock() = default;
    virtual time_point now() const = 0;
    // still_idle, asked with the lock held again, says whether nothing has
    // started meanwhile (a write can slip in between a wait's time-out and its
    // return); none means the wait is taken as it was asked.
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           time_point until, bool idle,
                           const std::function<bool()>& still_idle = {}) = 0;

    // The wall clock: the controller's time-outs take as long as they say.
    static std::shared_ptr<SimClock> steady();
    // The wall clock that skips idle waits: a time-out that nothing can end early
    // passes after a millisecond, and the controller's time moves on by the rest.
    static std::shared_ptr<SimClock> skippingIdle();
};

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
    time_point now() const override;
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   time_point until, bool idle,
                   const std::function<bool()>& still_idle = {}) override;
    // Time skipped so far.
    std::chrono::nanoseconds skipped() const {
        return std::chrono::nanoseconds(skipped_ns_.load());
    }

  private:
    std::atomic<std::int64_t> skipped_ns_{0};
};

}  // namespace zarv::sim
