#pragma once

#include "platform/PlatformLayer.h"

#include "platform/FileInstallRegistry.h"
#include "platform/LinuxProcessLauncher.h"
#include "platform/LinuxSetupFiles.h"
#include "setup/InstallEnvironment.h"

namespace qhs {

// The machine's own install environment: the registry file under "/", the user's
// shortcut folders, the running executable, $TMPDIR (else /tmp/), and an immediate exit.
class StandardInstallEnvironment {
  public:
    StandardInstallEnvironment();
    StandardInstallEnvironment(const StandardInstallEnvironment&) = delete;
    StandardInstallEnvironment& operator=(const StandardInstallEnvironment&) = delete;

    const InstallEnvironment& environment() const { return environment_; }

  private:
    FileInstallRegistry registry_;
    LinuxSetupFiles files_;
    LinuxProcessLauncher launcher_;
    InstallEnvironment environment_;
};

}  // namespace qhs
