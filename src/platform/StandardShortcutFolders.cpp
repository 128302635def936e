#include "platform/StandardShortcutFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace qhs {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string homeDirectory() {
    std::string home = environmentText("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid())) {
            home = entry->pw_dir;
        }
    }
    return home;
}

// XDG_DESKTOP_DIR from the user's user-dirs.dirs: "$HOME/..." or an absolute path.
std::string xdgDesktopDirectory(const std::string& home) {
    std::string configHome = environmentText("XDG_CONFIG_HOME");
    if (configHome.empty() || configHome.front() != '/') {
        configHome = home + "/.config";
    }
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string prefix = "XDG_DESKTOP_DIR=\"";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"') {
            continue;
        }
        std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (value.rfind("$HOME", 0) == 0) {
            return home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') {
            return value;
        }
    }
    return {};
}

}  // namespace

ShortcutFolders standardShortcutFolders() {
    const std::string home = homeDirectory();
    ShortcutFolders folders;
    folders.userDesktop = xdgDesktopDirectory(home);
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
