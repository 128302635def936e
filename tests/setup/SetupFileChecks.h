#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "setup/UninstallScript.h"

namespace qhs {

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline bool isExecutableByAll(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & 0111) == 0111;
}

// Every regular file below a folder.
inline std::set<std::filesystem::path> filesBelow(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() || entry.is_symlink()) {
            files.insert(entry.path());
        }
    }
    return files;
}

// Runs a script with sh in the foreground and returns its exit status.
inline int runWithSh(const std::string& scriptPath) {
    return std::system(("sh " + shellQuoted(scriptPath) + " </dev/null").c_str());
}

}  // namespace qhs
