#pragma once

#include <QIcon>

namespace zarv::app {

// The 40 x 40 tool button images: 0 Stop, 1 Settings, 2 Start, 3 Graph, 4 Radar.
QIcon ToolbarIcon(int index);

}  // namespace zarv::app
