#include "filemode/StoredKeyLogPath.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "app/Descriptor.h"

namespace qhs {

std::string storedKeyLogFilePath(const std::string& settingsPath) {
    return settingsPath + ".keylog";
}

std::optional<std::string> readStoredKeyLogPath(const std::string& settingsPath) {
    if (settingsPath.empty()) {
        return std::nullopt;
    }
    // Not blocking: a FIFO in its place must not hang the window's opening.
    const Descriptor file{::open(storedKeyLogFilePath(settingsPath).c_str(),
                                 O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    struct stat facts {};
    if (file.value < 0 || ::fstat(file.value, &facts) != 0 || !S_ISREG(facts.st_mode) ||
        (facts.st_uid != ::geteuid() && facts.st_uid != 0) ||
        (facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::nullopt;
    }
    std::string bytes(StoredKeyLogLineLimit, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::read(file.value, bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    const std::size_t lineEnd = bytes.find('\n');
    // A full buffer without a line break may be the start of a longer line: no path of ours.
    if (lineEnd == std::string::npos && filled == StoredKeyLogLineLimit) {
        return std::nullopt;
    }
    bytes.resize(lineEnd == std::string::npos ? filled : lineEnd);
    if (bytes.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return bytes;
}

bool storeKeyLogPath(const std::string& settingsPath, std::string_view keyLogPath) {
    if (settingsPath.empty() || keyLogPath.size() >= StoredKeyLogLineLimit ||
        keyLogPath.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos) {
        return false;
    }
    const std::string target = storedKeyLogFilePath(settingsPath);
    // mkostemp makes the file 0600, in the same folder so the rename cannot cross devices.
    std::string temporary = target + ".XXXXXX";
    Descriptor file{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (file.value < 0) {
        return false;
    }
    std::string line(keyLogPath);
    line += '\n';
    const bool written = writeAll(file.value, line) && ::fsync(file.value) == 0 && file.close();
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string initialKeyLogPath(const std::string& settingsPath, const char* environmentValue) {
    if (std::optional<std::string> stored = readStoredKeyLogPath(settingsPath)) {
        return std::move(*stored);
    }
    return environmentValue != nullptr ? std::string(environmentValue) : std::string();
}

}  // namespace qhs
