#pragma once

#include <QEventLoop>
#include <cstdint>
#include <functional>

namespace zarv::station {

// A 32-bit millisecond tick that wraps around like the system tick counter.
using TickSource = std::function<std::uint32_t()>;
std::uint32_t SystemTickMs();

// Handles pending events at least once, then keeps handling them, asleep in an
// event loop between events, until at least ms milliseconds have passed on the
// tick, wrap-around included.
void DelayMs(int ms, const TickSource& tick = SystemTickMs);

// Sleeps in an event loop until a condition holds. Whoever changes what the
// condition looks at calls wake(), on the GUI thread.
class EventWaiter {
  public:
    // A wake that got lost costs at most safety_net_ms.
    explicit EventWaiter(int safety_net_ms = 250) : safety_net_ms_(safety_net_ms) {}
    void waitUntil(const std::function<bool()>& condition);
    void wake();

  private:
    QEventLoop* loop_ = nullptr;
    int safety_net_ms_;
};

}  // namespace zarv::station
