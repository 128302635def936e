#pragma once

#include <functional>
#include <string>

#include "setup/InstallRegistry.h"
#include "setup/ProcessLauncher.h"
#include "setup/SetupFiles.h"
#include "setup/ShortcutFolders.h"

namespace qhs {

// Everything installing, removing and start-up's installation check touch outside the
// program, gathered so a test can root it all in a folder of its own. The services are
// not owned.
struct InstallEnvironment {
    InstallRegistry* registry = nullptr;
    SetupFiles* files = nullptr;
    ProcessLauncher* launcher = nullptr;
    ShortcutFolders shortcutFolders;
    // The running executable; empty when it could not be had.
    std::string ownExecutablePath;
    // Where the un-installer's script goes, with or without a trailing '/'.
    std::string temporaryDirectory;
    // Ends the process at once with the exit code (the un-installer's last step).
    std::function<void(int exitCode)> endProcess;
    // The program's icon as the bytes of a PNG file, placed beside the installed copy for its
    // shortcuts; the shortcuts go without an icon when this is unset or gives nothing.
    std::function<std::string()> iconImage;
};

}  // namespace qhs
