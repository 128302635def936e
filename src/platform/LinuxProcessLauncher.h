#pragma once

#include "platform/PlatformLayer.h"

#include "setup/ProcessLauncher.h"

namespace qhs {

// Starts a program as a grandchild in a new session, so it is neither a zombie of this
// process nor ended with it or with its terminal.
class LinuxProcessLauncher final : public ProcessLauncher {
  public:
    bool startDetached(const std::vector<std::string>& arguments,
                       const std::string& workingDirectory) override;
};

}  // namespace qhs
