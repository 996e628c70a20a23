#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "station/delay.h"

using namespace zarv::station;

namespace {
TEST(DelayMs, ZeroPumpsEventsOnce) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DelayMs(0);
    EXPECT_TRUE(ran);
    ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DelayMs(-5);
    EXPECT_TRUE(ran);
}

TEST(DelayMs, WaitsAcrossTheTickWrapAndHandlesEventsMeanwhile) {
    QElapsedTimer real;
    real.start();
    const std::uint32_t offset = 0xFFFFFFFFu - 50;  // wraps 50 ms into the wait
    const TickSource tick = [&] { return offset + static_cast<std::uint32_t>(real.elapsed()); };
    bool timer_fired = false;
    QTimer::singleShot(100, [&] { timer_fired = true; });
    DelayMs(300, tick);
    EXPECT_GE(real.elapsed(), 300);
    EXPECT_LT(real.elapsed(), 60000);  // not the 49 days of a wrap taken the wrong way
    EXPECT_TRUE(timer_fired);
}

TEST(EventWaiter, WakesWhenTheConditionChanges) {
    // Without the wake only the safety net, a minute here, would end the wait.
    EventWaiter waiter(60000);
    bool done = false;
    QTimer::singleShot(20, [&] {
        done = true;
        waiter.wake();
    });
    QElapsedTimer real;
    real.start();
    waiter.waitUntil([&] { return done; });
    EXPECT_LT(real.elapsed(), 30000);
}
}  // namespace
