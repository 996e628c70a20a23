// The time a station keeps: the link's clock, the simulated controller's fast
// clock and the calendar that follows it.
#include <gtest/gtest.h>

#include <QDateTime>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device_IO/link_clock.h"
#include "simulator/sim_clock.h"
#include "station/calendar.h"

#include "scoped_env.h"

using namespace zarv::device_io;
using namespace zarv::sim;
using namespace zarv::station;
using std::chrono::steady_clock;

namespace {

class SetLinkClock : public LinkClock {
  public:
    explicit SetLinkClock(double rate) : rate_(rate) {}
    std::int64_t nowNs() const override { return now_ns; }
    double rate() const override { return rate_; }
    std::int64_t now_ns = 1'000'000'000;

  private:
    double rate_;
};

}  // namespace

TEST(LinkClock, AWaitOnTheWallClockLastsAtLeastItsLinkTime) {
    EXPECT_EQ(SteadyLinkClock().wallMs(250), 250);
    EXPECT_EQ(SteadyLinkClock().wallMs(0), 0);
    EXPECT_EQ(SteadyLinkClock().wallMs(-5), 0);
    const SetLinkClock fast(8);
    EXPECT_EQ(fast.wallMs(1000), 125);
    EXPECT_EQ(fast.wallMs(1001), 126);  // rounded up: the link's time has passed
    EXPECT_EQ(fast.wallMs(1e18), std::numeric_limits<int>::max());
    const SetLinkClock slow(0.5);
    EXPECT_EQ(slow.wallMs(100), 200);
}

TEST(SimClockRate, TheControllersTimeRunsAtItsRateAndGoesOnWhenTheRateChanges) {
    SkippingSimClock clock(8);
    EXPECT_EQ(clock.rate(), 8);
    // Brackets: the wall time around the two readings bounds their difference.
    const auto outer_0 = steady_clock::now();
    const auto paced_0 = clock.paced();
    const auto inner_0 = steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto inner_1 = steady_clock::now();
    const auto paced_1 = clock.paced();
    const auto outer_1 = steady_clock::now();
    const auto slack = std::chrono::nanoseconds(2);
    EXPECT_GE(paced_1 - paced_0, 8 * (inner_1 - inner_0) - slack);
    EXPECT_LE(paced_1 - paced_0, 8 * (outer_1 - outer_0) + slack);

    // A new rate takes over from where the time is: no step either way.
    const auto before = clock.paced();
    const auto wall_before = steady_clock::now();
    clock.setRate(1);
    const auto after = clock.paced();
    const auto wall_after = steady_clock::now();
    EXPECT_GE(after, before);
    EXPECT_LE(after - before, 8 * (wall_after - wall_before) + slack);
    EXPECT_EQ(clock.rate(), 1);
    clock.setRate(0);  // refused
    EXPECT_EQ(clock.rate(), 1);
}

TEST(SimClockRate, SkippedIdleTimeIsTheControllersAloneNotTheStations) {
    SkippingSimClock clock(1);
    std::mutex mutex;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(mutex);
    const auto paced_before = clock.paced();
    clock.waitUntil(lock, cv, clock.now() + std::chrono::seconds(30), true);
    EXPECT_GE(clock.skipped(), std::chrono::seconds(29));
    // The station's line moved on by the real millisecond only.
    EXPECT_LT(clock.paced() - paced_before, std::chrono::seconds(1));
    const auto t = clock.now();
    EXPECT_EQ(clock.pacedAt(t), t - clock.skipped());
}

TEST(SimClockRate, ZarvSimSpeedChoosesTheRateAndIgnoresWhatIsNoRate) {
    EXPECT_EQ(SimClockFromEnvironment()->rate(), 1);
    {
        ScopedEnv speed("ZARV_SIM_SPEED", "12.5");
        EXPECT_EQ(SimClockFromEnvironment()->rate(), 12.5);
    }
    for (const char* bad : {"fast", "0", "-3", "1001", "nan"}) {
        ScopedEnv speed("ZARV_SIM_SPEED", bad);
        testing::internal::CaptureStderr();
        EXPECT_EQ(SimClockFromEnvironment()->rate(), 1) << bad;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("ZARV_SIM_SPEED ignored"),
                  std::string::npos)
            << bad;
    }
}

TEST(Calendar, TheSystemsOnARealLinkTheControllersOnAFastOne) {
    const SetLinkClock real(1);
    const auto system = CalendarFor(real);
    EXPECT_LE(std::abs(system().msecsTo(QDateTime::currentDateTime())), 1000);

    SetLinkClock fast(8);
    const auto calendar = CalendarFor(fast);
    const QDateTime start = calendar();
    fast.now_ns += 3'600'000'000'000;  // an hour of the controller's time
    EXPECT_EQ(start.msecsTo(calendar()), 3'600'000);
}

TEST(VirtualSimClock, TimePassesOnlyByWaitsThatRanToTheirEnd) {
    VirtualSimClock clock(1000);
    std::mutex mutex;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = clock.now();
    // However long this thread sleeps, the controller's time stands still.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(clock.now(), start);
    // A wait that runs out moves it to its end, whenever the thread wakes.
    clock.waitUntil(lock, cv, start + std::chrono::seconds(2), false);
    EXPECT_EQ(clock.now(), start + std::chrono::seconds(2));
    // An idle wait that a trigger start overtook moves nothing.
    clock.waitUntil(lock, cv, start + std::chrono::seconds(3), true, [] { return false; });
    EXPECT_EQ(clock.now(), start + std::chrono::seconds(2));
    // The station's own waits move it when they end, never back.
    clock.stationWaitedUntil(start + std::chrono::seconds(5));
    clock.stationWaitedUntil(start + std::chrono::seconds(4));
    EXPECT_EQ(clock.now(), start + std::chrono::seconds(5));
}

TEST(VirtualSimClock, TheEarliestHoldStopsTimeUntilItIsReleased) {
    VirtualSimClock clock(1000);
    std::mutex mutex;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = clock.now();
    const auto dwell_end = start + std::chrono::seconds(1);
    const auto recording_end = start + std::chrono::seconds(3);
    clock.holdAt(recording_end);
    clock.holdAt(dwell_end);
    clock.waitUntil(lock, cv, start + std::chrono::seconds(10), false);
    EXPECT_EQ(clock.now(), dwell_end);
    clock.waitUntil(lock, cv, start + std::chrono::seconds(10), false);  // stands there
    EXPECT_EQ(clock.now(), dwell_end);
    clock.releaseHoldAt(dwell_end);
    clock.stationWaitedUntil(start + std::chrono::seconds(10));
    EXPECT_EQ(clock.now(), recording_end);
    clock.releaseHoldAt(recording_end);
    clock.waitUntil(lock, cv, start + std::chrono::seconds(10), false);
    EXPECT_EQ(clock.now(), start + std::chrono::seconds(10));
    EXPECT_FALSE(clock.keepsWallTime());
}
