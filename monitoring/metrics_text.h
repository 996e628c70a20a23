#pragma once

#include <QByteArray>

#include "process_figures.h"
#include "station_state.h"

namespace zarv::monitoring {

// The state in Prometheus' text exposition format (version 0.0.4), names and
// units by its conventions: counters end in _total, times in seconds, sizes in
// bytes.
// With the process figures read now, or as given.
QByteArray MetricsText(const StationState& state);
QByteArray MetricsText(const StationState& state, const ProcessFigures& process);

}  // namespace zarv::monitoring
