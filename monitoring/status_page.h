#pragma once

#include <QByteArray>

#include "station_state.h"

namespace zarv::monitoring {

// The page for a person: the state at a glance in green, amber or red, the
// dwell, the rates, the disk, the last log lines. Self-contained (no scripts,
// fonts or styles from elsewhere) and refreshing itself every few seconds.
QByteArray StatusPage(const StationState& state);

// "recording", "recovering" or "stopped", and its colour on the page.
QString Glance(const StationState& state);

}  // namespace zarv::monitoring
