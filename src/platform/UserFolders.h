#pragma once

#include "platform/PlatformLayer.h"

#include <string>

#include "app/SettingsRecord.h"

namespace qhs {

// The running user's home folder: $HOME, else the password database's; empty when neither.
std::string homeDirectory();

// A folder of the user's XDG user-dirs.dirs ("DESKTOP", "DOWNLOAD", ...) as xdg-user-dir
// reads it; empty when the file does not name it.
std::string xdgUserDirectory(const std::string& name);

// The user's configuration folder: $XDG_CONFIG_HOME when absolute, else ~/.config; root's
// is always its password database home's .config. Empty when there is no home.
std::string userConfigDirectory();

// Where the running user's settings live. A copy in a folder of the user's own (a build
// folder, a portable copy) keeps them beside the executable; any other (an installed copy)
// reads and writes the user's own file in the configuration folder, quillharbour/ (made
// 0700 when `makeFolder`), seeded from the file beside the executable.
SettingsLocation settingsLocation(const std::string& executablePath, bool makeFolder);

// Where File Sniffer Mode stores files unless the user says otherwise: the user's download
// folder when it exists, else the home folder, else "/"; always with a trailing '/'.
std::string downloadFolder();

}  // namespace qhs
