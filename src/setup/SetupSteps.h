#pragma once

#include "app/SnifferApp.h"
#include "setup/InstallEnvironment.h"

namespace qhs {

// Start-up's installation steps over `environment`: the installation check (the agreement,
// the installer behind its backdrop, or the hand-over to the installed copy) and the
// un-installer.
SetupSteps setupSteps(const InstallEnvironment& environment);

}  // namespace qhs
