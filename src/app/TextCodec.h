#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qhs {

// Core texts are Windows-1252 bytes; the windows show them as Unicode.
QString fromWindows1252(std::string_view bytes);
// As fromWindows1252, with every CR LF made one line break, for labels and text panels.
QString fromWindowsLines(std::string_view bytes);
// Characters outside Windows-1252 become '?'.
std::string toWindows1252(const QString& text);

}  // namespace qhs
