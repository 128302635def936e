#include "app/ApplicationName.h"

#include <filesystem>
#include <mutex>

#include "app/Product.h"

namespace qhs {

namespace {

// Set by start-up and read by every thread that builds a message.
std::mutex nameGuard;
std::string currentName{ApplicationName};

}  // namespace

std::string applicationName() {
    std::lock_guard guard(nameGuard);
    return currentName;
}

void setApplicationNameFromPath(std::string_view executablePath) {
    std::string name = std::filesystem::path(executablePath).stem().string();
    std::lock_guard guard(nameGuard);
    currentName = name.empty() ? std::string(ApplicationName) : std::move(name);
}

}  // namespace qhs
