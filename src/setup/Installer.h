#pragma once

#include <string>

#include "setup/InstallEnvironment.h"

namespace qhs {

// What the user chose in the installer dialog.
struct InstallChoices {
    std::string directory;
    bool desktopShortcut = true;
    bool startMenuShortcut = true;
    bool forAllUsers = false;
};

struct InstallResult {
    // The executable stands at targetPath: copied there, or it was the running file.
    bool installed = false;
    std::string directory;   // absolute, ending in '/'
    std::string targetPath;  // directory followed by the executable's name
    // The capture group may capture with the copy (file capabilities took).
    bool captureAllowed = false;
};

// Installs the running executable: the directory chain, the copy (unless the running file
// already stands there), the shortcuts and the install registry entries. Nothing but the
// directories is made when the copy fails.
class Installer {
  public:
    explicit Installer(const InstallEnvironment& environment);

    InstallResult install(const InstallChoices& choices) const;
    // Starts the installed copy in its directory with the hand-over argument.
    bool startInstalledCopy(const InstallResult& result) const;

  private:
    void createDirectoryChain(const std::string& directory) const;
    bool placeExecutable(const std::string& targetPath) const;
    // The icon's path, or nothing when there is no icon to place or it could not be written.
    std::string placeIcon(const std::string& directory) const;
    void createShortcut(const std::string& folder, const std::string& targetPath,
                        const std::string& iconPath, unsigned mode) const;
    void registerInstallation(const InstallResult& result) const;

    const InstallEnvironment& environment_;
};

}  // namespace qhs
