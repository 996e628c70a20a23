#include "sim_clock.h"

#include <QString>
#include <cmath>
#include <cstdio>
#include <optional>

namespace zarv::sim {

std::shared_ptr<SimClock> SimClock::steady() {
    return std::make_shared<SteadySimClock>();
}

std::shared_ptr<SimClock> SimClock::skippingIdle() {
    return std::make_shared<SkippingSimClock>();
}

std::shared_ptr<SimClock> SimClock::fast(double rate) {
    return std::make_shared<SkippingSimClock>(rate > 0 ? rate : 1.0);
}

std::shared_ptr<SimClock> SimClock::virtualTime(double rate) {
    return std::make_shared<VirtualSimClock>(rate > 0 ? rate : 1.0);
}

namespace {
// ZARV_SIM_SPEED as a rate, or none when unset or refused.
std::optional<double> SpeedFromEnvironment() {
    const QString text = qEnvironmentVariable("ZARV_SIM_SPEED");
    if (text.isEmpty()) return std::nullopt;
    bool ok = false;
    const double rate = text.toDouble(&ok);
    if (ok && rate > 0 && rate <= 1000) return rate;
    std::fprintf(stderr, "ZARV_SIM_SPEED ignored: '%s' is not a number above 0 and at most 1000\n",
                 text.toLocal8Bit().constData());
    return std::nullopt;
}
}  // namespace

std::shared_ptr<SimClock> SimClockFromEnvironment() {
    const std::optional<double> speed = SpeedFromEnvironment();
    const QString kind = qEnvironmentVariable("ZARV_SIM_CLOCK");
    if (kind == QLatin1String("virtual")) return SimClock::virtualTime(speed.value_or(1.0));
    if (!kind.isEmpty() && kind != QLatin1String("wall"))
        std::fprintf(stderr, "ZARV_SIM_CLOCK ignored: '%s' is neither virtual nor wall\n",
                     kind.toLocal8Bit().constData());
    return speed ? SimClock::fast(*speed) : SimClock::steady();
}

SkippingSimClock::SkippingSimClock(double rate) {
    const auto wall = std::chrono::steady_clock::now();
    anchor_ = Anchor{wall, wall, rate};
}

// Counted from the last anchor, a double holds the nanoseconds exactly for months.
SimClock::time_point SkippingSimClock::Anchor::pacedAt(time_point wall_now) const {
    const auto since = wall_now - wall;
    return paced +
           std::chrono::nanoseconds(std::llround(static_cast<double>(since.count()) * rate));
}

double SkippingSimClock::rate() const {
    std::lock_guard<std::mutex> lock(anchor_mutex_);
    return anchor_.rate;
}

SimClock::time_point SkippingSimClock::paced() const {
    const auto wall = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(anchor_mutex_);
    return anchor_.pacedAt(wall);
}

void SkippingSimClock::setRate(double rate) {
    if (!(rate > 0)) return;
    const auto wall = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(anchor_mutex_);
    anchor_ = Anchor{wall, anchor_.pacedAt(wall), rate};
}

SimClock::time_point SkippingSimClock::wallAt(time_point t) const {
    std::lock_guard<std::mutex> lock(anchor_mutex_);
    const auto ahead = t - skipped() - anchor_.paced;
    return anchor_.wall + std::chrono::nanoseconds(
                              std::llround(static_cast<double>(ahead.count()) / anchor_.rate));
}

void SkippingSimClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                                 time_point until, bool idle,
                                 const std::function<bool()>& still_idle) {
    if (!idle) {
        cv.wait_until(lock, wallAt(until));
        return;
    }
    // A real millisecond lets a notify from another thread end the wait as it
    // would; a reader that loops on idle reads never spins a core.
    const auto real_until =
        std::min(wallAt(until), std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    if (cv.wait_until(lock, real_until) == std::cv_status::no_timeout) return;
    // A trigger started while the wait was timing out: the time is not skipped.
    if (still_idle && !still_idle()) return;
    const auto rest = until - now();
    if (rest > std::chrono::nanoseconds::zero()) skipped_ns_ += rest.count();
}

VirtualSimClock::VirtualSimClock(double rate)
    : now_ns_(std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count()),
      rate_(rate > 0 ? rate : 1.0) {}

void VirtualSimClock::setRate(double rate) {
    if (rate > 0) rate_ = rate;
}

void VirtualSimClock::stationWaitedUntil(time_point t) {
    advanceTo(std::min(t, held()));
}

void VirtualSimClock::holdAt(time_point t) {
    std::lock_guard<std::mutex> lock(holds_mutex_);
    holds_.insert(t.time_since_epoch().count());
    hold_ns_ = *holds_.begin();
}

void VirtualSimClock::releaseHoldAt(time_point t) {
    std::lock_guard<std::mutex> lock(holds_mutex_);
    if (const auto it = holds_.find(t.time_since_epoch().count()); it != holds_.end())
        holds_.erase(it);
    hold_ns_ = holds_.empty() ? kNoHold : *holds_.begin();
}

void VirtualSimClock::advanceTo(time_point t) {
    const std::int64_t to =
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    std::int64_t at = now_ns_.load();
    while (at < to && !now_ns_.compare_exchange_weak(at, to)) {
    }
}

// Idle or not, a wait takes its time at the clock's rate: only a wait that ran
// to its end is time that passed.
void VirtualSimClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                                time_point until, bool idle,
                                const std::function<bool()>& still_idle) {
    const time_point from = now();
    const time_point held = this->held();
    if (from >= held && until > from) {
        // Standing still until the station has acted and lets go.
        cv.wait_for(lock, std::chrono::milliseconds(2));
        return;
    }
    until = std::min(until, held);
    if (until <= from) return;
    const auto wall_for = std::chrono::nanoseconds(
        std::llround(static_cast<double>((until - from).count()) / rate_.load()));
    // A wait that something ended early ended at the moment it began: the write,
    // purge or abort that ended it was stamped then. So did one whose time ran
    // out while a trigger start waited for the lock.
    if (cv.wait_for(lock, wall_for) == std::cv_status::no_timeout) return;
    if (idle && still_idle && !still_idle()) return;
    advanceTo(until);
}

}  // namespace zarv::sim
