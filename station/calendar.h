#pragma once

#include <QDateTime>
#include <functional>

namespace zarv::device_io {
class LinkClock;
}  // namespace zarv::device_io

namespace zarv::station {

// The station's date and time of day: the system's, unless the link keeps its
// own pace (a simulated controller running faster than the wall clock). Then
// the station keeps the controller's time from now on, so that file names, log
// stamps and the dwell journal agree with what was recorded.
std::function<QDateTime()> CalendarFor(const device_io::LinkClock& link);

}  // namespace zarv::station
