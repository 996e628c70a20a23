#pragma once

#include <QByteArray>

#include "station_state.h"

namespace zarv::monitoring {

// The state for scripts: what /metrics counts, plus the current beam, dwell,
// file, rates, the last errors and the last run's summary.
QByteArray StatusJson(const StationState& state);

}  // namespace zarv::monitoring
