#include "link_clock.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace zarv::device_io {

int LinkClock::wallMs(double link_ms) const {
    if (link_ms <= 0) return 0;
    const double ms = std::ceil(link_ms / rate());
    return ms >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                 : static_cast<int>(ms);
}

namespace {
class SteadyClock : public LinkClock {
  public:
    std::int64_t nowNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};
}  // namespace

const LinkClock& SteadyLinkClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace zarv::device_io
