#pragma once

#include "calendar.h"
#include "controller_session.h"
#include "operator_log.h"
#include "station_config.h"

namespace zarv::device_io {
class FtApi;
}  // namespace zarv::device_io

namespace zarv::station {

using device_io::FtApi;

class Operator;

// What the main window (and a test) builds once: the stamped operator log, the
// configuration and the controller session. The flows take the parts they use.
// Without a clock of its own the log keeps the link's calendar.
struct Station {
    Station(Operator& op, FtApi& api, OperatorLog::Clock clock = {})
        : log(op, clock ? std::move(clock) : CalendarFor(api.StreamClock())),
          config(log),
          session(api, log, config.run_config) {}

    OperatorLog log;
    StationConfig config;
    ControllerSession session;
};

}  // namespace zarv::station
