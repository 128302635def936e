#pragma once

#include "platform/PlatformLayer.h"

#include <string>

namespace qhs {

// The running user's home folder: $HOME, else the password database's; empty when neither.
std::string homeDirectory();

// A folder of the user's XDG user-dirs.dirs ("DESKTOP", "DOWNLOAD", ...) as xdg-user-dir
// reads it; empty when the file does not name it.
std::string xdgUserDirectory(const std::string& name);

// Where File Sniffer Mode stores files unless the user says otherwise: the user's download
// folder when it exists, else the home folder, else "/"; always with a trailing '/'.
std::string downloadFolder();

}  // namespace qhs
