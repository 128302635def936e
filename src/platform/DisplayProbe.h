#pragma once

#include "platform/PlatformLayer.h"

namespace qhs {

// Whether the windows can be shown: Qt's platform is chosen by QT_QPA_PLATFORM (trusted as
// set), or it is X11 and the X server of DISPLAY accepts a connection.
bool displayAvailable();

}  // namespace qhs
