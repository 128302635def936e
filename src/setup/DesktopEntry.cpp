#include "setup/DesktopEntry.h"

namespace qhs {

namespace {

// The escapes every string value of a desktop entry goes through.
std::string escapedString(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

std::string execArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';  // a lone '%' would start a field code
        }
    }
    quoted += '"';
    return quoted;
}

std::string desktopEntryText(std::string_view name, std::string_view description,
                             std::string_view targetPath, std::string_view iconPath) {
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Version=1.0\n";
    text += "Name=" + escapedString(name) + '\n';
    text += "Comment=" + escapedString(description) + '\n';
    text += "Exec=" + escapedString(execArgument(targetPath)) + '\n';
    if (!iconPath.empty()) {
        text += "Icon=" + escapedString(iconPath) + '\n';
    }
    text += "Terminal=false\n";
    text += "Categories=Network;\n";
    return text;
}

}  // namespace qhs
