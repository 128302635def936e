#include "platform/StandardShortcutFolders.h"

#include <cstdlib>

#include "platform/UserFolders.h"

namespace qhs {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

ShortcutFolders standardShortcutFolders() {
    const std::string home = homeDirectory();
    ShortcutFolders folders;
    folders.userDesktop = xdgUserDirectory("DESKTOP");
    if (folders.userDesktop.empty() && !home.empty()) {
        folders.userDesktop = home + "/Desktop";
    }
    std::string dataHome = environmentText("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.front() != '/') {
        dataHome = home.empty() ? std::string() : home + "/.local/share";
    }
    if (!dataHome.empty()) {
        folders.userStartMenu = dataHome + "/applications";
    }
    folders.allUsersStartMenu = "/usr/local/share/applications";
    return folders;
}

}  // namespace qhs
