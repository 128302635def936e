#include "setup/InstallationRecord.h"

#include <algorithm>

#include "app/Product.h"
#include "setup/SetupNames.h"

namespace qhs {

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string InstallationRecord::reinstallQuestion() const {
    if (versionMarked) {
        return "Would you like to re-install " + std::string(ProductName) + ' ' +
               std::string(ProductVersion) + '?';
    }
    return "Would you like to install version " + std::string(ProductVersion) + " of " +
           std::string(ProductName) + '?';
}

std::optional<InstallationRecord> readInstallationRecord(InstallRegistry& registry) {
    const std::optional<std::string> path = registry.readValue(ProductKey, InstalledPathValueName);
    if (!path || path->empty()) {
        return std::nullopt;
    }
    const std::optional<std::string> marker =
        registry.readValue(ProductKey, VersionMarkerValueName);
    return InstallationRecord{*path, marker && !marker->empty()};
}

bool isSameExecutablePath(std::string_view first, std::string_view second) {
    return std::ranges::equal(first, second, [](char a, char b) { return upper(a) == upper(b); });
}

}  // namespace qhs
