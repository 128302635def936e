#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "setup/InstallRegistry.h"

namespace qhs {

// What the install registry says about an earlier installation.
struct InstallationRecord {
    std::string executablePath;  // never empty
    bool versionMarked = false;  // the version's own marker value is there and not empty

    // Start-up asks this before leaving the installed copy for a new installation.
    std::string reinstallQuestion() const;
};

// Nothing when no installation is recorded: the key or the path value is missing or empty.
std::optional<InstallationRecord> readInstallationRecord(InstallRegistry& registry);

// Whether two executable paths are the same when letter case is ignored, which is how
// start-up recognises that it runs as the installed copy.
bool isSameExecutablePath(std::string_view first, std::string_view second);

}  // namespace qhs
