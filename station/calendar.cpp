#include "calendar.h"

#include "device_IO/link_clock.h"

namespace zarv::station {

std::function<QDateTime()> CalendarFor(const device_io::LinkClock& link) {
    if (link.keepsWallTime()) return &QDateTime::currentDateTime;
    const QDateTime start = QDateTime::currentDateTime();
    const std::int64_t start_ns = link.nowNs();
    return [&link, start, start_ns] { return start.addMSecs((link.nowNs() - start_ns) / 1000000); };
}

}  // namespace zarv::station
