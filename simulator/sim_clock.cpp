#include "sim_clock.h"

namespace zarv::sim {

std::shared_ptr<SimClock> SimClock::steady() {
    return std::make_shared<SteadySimClock>();
}

std::shared_ptr<SimClock> SimClock::skippingIdle() {
    return std::make_shared<SkippingSimClock>();
}

SimClock::time_point SkippingSimClock::now() const {
    return std::chrono::steady_clock::now() + skipped();
}

void SkippingSimClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                                 time_point until, bool idle,
                                 const std::function<bool()>& still_idle) {
    if (!idle) {
        cv.wait_until(lock, until - skipped());
        return;
    }
    // A real millisecond lets a notify from another thread end the wait as it
    // would; a reader that loops on idle reads never spins a core.
    const auto real_until = std::min(
        until - skipped(), std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    if (cv.wait_until(lock, real_until) == std::cv_status::no_timeout) return;
    // A trigger started while the wait was timing out: the time is not skipped.
    if (still_idle && !still_idle()) return;
    const auto rest = until - now();
    if (rest > std::chrono::nanoseconds::zero()) skipped_ns_ += rest.count();
}

}  // namespace zarv::sim
