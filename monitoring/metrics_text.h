#pragma once

#include <QByteArray>

#include "station_state.h"

namespace zarv::monitoring {

// The state in Prometheus' text exposition format (version 0.0.4), names and
// units by its conventions: counters end in _total, times in seconds, sizes in
// bytes.
QByteArray MetricsText(const StationState& state);

}  // namespace zarv::monitoring
