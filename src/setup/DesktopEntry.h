#pragma once

#include <string>
#include <string_view>

namespace qhs {

// The text of a freedesktop .desktop launcher that starts `targetPath` without arguments,
// shown with the image file at `iconPath` (no icon when it is empty). The path is quoted for
// the Exec key whatever it holds (blanks, quotes, '$', '%', line breaks), so the launcher
// always starts exactly that file.
std::string desktopEntryText(std::string_view name, std::string_view description,
                             std::string_view targetPath, std::string_view iconPath = {});

// One argument quoted as the Exec key wants it, before the key's string escapes.
std::string execArgument(std::string_view argument);

}  // namespace qhs
