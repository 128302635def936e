#include "platform/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/SettingsRecord.h"
#include "setup/SetupNames.h"

namespace qhs {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

std::string homeDirectory() {
    std::string home = environmentText("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid())) {
            home = entry->pw_dir;
        }
    }
    return home;
}

std::string userConfigDirectory() {
    if (::geteuid() == 0) {
        // Root's writes never follow a folder named by an environment that sudo may have
        // kept from another user.
        const passwd* entry = ::getpwuid(0);
        return entry != nullptr ? std::string(entry->pw_dir) + "/.config" : std::string();
    }
    const std::string configHome = environmentText("XDG_CONFIG_HOME");
    if (!configHome.empty() && configHome.front() == '/') {
        return configHome;
    }
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

SettingsLocation settingsLocation(const std::string& executablePath, bool makeFolder) {
    const std::string beside = settingsFilePath(executablePath);
    struct stat folder {};
    const std::string executableFolder =
        std::filesystem::path(executablePath).parent_path().string();
    if (::stat(executableFolder.empty() ? "/" : executableFolder.c_str(), &folder) == 0 &&
        folder.st_uid == ::geteuid()) {
        // A build folder or a portable copy of the user's own; root's own folder holds the
        // system-wide defaults of an installed copy, for everyone to read.
        return {beside, {}, ::geteuid() == 0 ? 0644u : 0600u};
    }
    const std::string config = userConfigDirectory();
    if (config.empty()) {
        return {beside, {}, 0600};
    }
    const std::string own = config + "/quillharbour";
    if (makeFolder) {
        ::mkdir(config.c_str(), 0700);
        ::mkdir(own.c_str(), 0700);
    }
    return {own + "/" + std::string(SettingsFileName), beside, 0600};
}

std::string xdgUserDirectory(const std::string& name) {
    const std::string home = homeDirectory();
    std::string configHome = environmentText("XDG_CONFIG_HOME");
    if (configHome.empty() || configHome.front() != '/') {
        configHome = home + "/.config";
    }
    // Lines read XDG_NAME_DIR="$HOME/Folder" or XDG_NAME_DIR="/absolute/folder".
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string prefix = "XDG_" + name + "_DIR=\"";
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

std::string downloadFolder() {
    std::string folder = xdgUserDirectory("DOWNLOAD");
    if (!isFolder(folder)) {
        folder = homeDirectory();
    }
    if (!isFolder(folder)) {
        return "/";
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

}  // namespace qhs
