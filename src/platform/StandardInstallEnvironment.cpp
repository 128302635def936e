#include "platform/StandardInstallEnvironment.h"

#include <cstdio>
#include <cstdlib>

#include "platform/ProcessFacts.h"
#include "platform/StandardShortcutFolders.h"

namespace qhs {

namespace {

std::string temporaryDirectory() {
    const char* configured = std::getenv("TMPDIR");
    if (configured != nullptr && configured[0] == '/') {
        return configured;
    }
    return "/tmp/";
}

}  // namespace

StandardInstallEnvironment::StandardInstallEnvironment() {
    environment_.registry = &registry_;
    environment_.files = &files_;
    environment_.launcher = &launcher_;
    environment_.shortcutFolders = standardShortcutFolders();
    environment_.ownExecutablePath = executablePath();
    environment_.temporaryDirectory = temporaryDirectory();
    environment_.endProcess = [](int exitCode) {
        // At once, without unwinding the windows still open: the script waits for no one.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    };
}

}  // namespace qhs
