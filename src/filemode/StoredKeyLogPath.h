#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qhs {

// The File Sniffer window's TLS key log path, kept in a small file beside the settings file
// (the settings record has a fixed layout, so the path cannot live in it): the settings
// file's name + ".keylog", holding the path as one line.

// The file that keeps the path for the settings file `settingsPath`.
std::string storedKeyLogFilePath(const std::string& settingsPath);

// The path kept beside `settingsPath`: empty when the user cleared it; nothing when none is
// kept, or when the file is no regular file of the user's (or root's) that only its owner
// can write, or holds no line of at most StoredKeyLogLineLimit bytes.
std::optional<std::string> readStoredKeyLogPath(const std::string& settingsPath);

// Keeps `keyLogPath` beside `settingsPath`, replacing the file whole (a new file, mode 0600,
// renamed over the old one), so a failure never leaves half a line. False, with nothing
// changed, when the path holds a line break or a NUL byte, is longer than a line may be, or
// the folder cannot be written.
bool storeKeyLogPath(const std::string& settingsPath, std::string_view keyLogPath);

// The path the window starts with: the kept one when there is one (even empty), else
// `environmentValue` (SSLKEYLOGFILE; null when it is not set).
std::string initialKeyLogPath(const std::string& settingsPath, const char* environmentValue);

// The largest line read back, line break included: PATH_MAX on Linux.
inline constexpr std::size_t StoredKeyLogLineLimit = 4096;

}  // namespace qhs
