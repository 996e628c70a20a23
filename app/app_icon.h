#pragma once

#include <QIcon>

namespace zarv::app {

// The station's own icon, the one the desktop entry names, drawn from its SVG at
// the sizes window managers ask for.
QIcon AppIcon();

}  // namespace zarv::app
