#pragma once

#include <string>
#include <vector>

namespace qhs {

// Starts programs that outlive the program itself.
class ProcessLauncher {
  public:
    virtual ~ProcessLauncher() = default;

    // Runs arguments[0] (a path, or a name looked up in PATH) with the remaining arguments
    // in a session of its own, in `workingDirectory` (empty: the current one). True once
    // the program is running; false when it could not be started.
    virtual bool startDetached(const std::vector<std::string>& arguments,
                               const std::string& workingDirectory) = 0;
};

}  // namespace qhs
