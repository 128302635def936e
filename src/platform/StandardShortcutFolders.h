#pragma once

#include "platform/PlatformLayer.h"

#include "setup/ShortcutFolders.h"

namespace qhs {

// The current user's XDG desktop directory (else ~/Desktop), the user's applications
// menu folder ($XDG_DATA_HOME/applications, else ~/.local/share/applications) and the
// local all-users menu folder /usr/local/share/applications.
ShortcutFolders standardShortcutFolders();

}  // namespace qhs
