#pragma once

#include "setup/InstallEnvironment.h"

namespace qhs {

// Removes the installation of the running executable. The uninstall entry and the
// shortcuts go at once; the executable, its settings file and its directory are left to a
// script that runs detached once the program has ended. The product key stays.
class Uninstaller {
  public:
    explicit Uninstaller(const InstallEnvironment& environment);

    // False when the script could not be written or the program's own path is unknown
    // (then no script is written or started); the entry and the shortcuts are gone in any
    // case.
    bool uninstall() const;

  private:
    void removeShortcuts() const;

    const InstallEnvironment& environment_;
};

}  // namespace qhs
