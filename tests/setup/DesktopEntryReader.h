#pragma once

#include <optional>
#include <sstream>
#include <string>

namespace qhs {

// A key of a desktop entry as launchers read it: the string escapes undone and, for Exec,
// the one quoted argument unquoted (nothing when it is not quoted by the rules).
inline std::optional<std::string> desktopEntryValue(const std::string& text,
                                                    const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + '=', 0) != 0) {
            continue;
        }
        std::string value;
        for (std::size_t i = key.size() + 1; i < line.size(); ++i) {
            const bool escaped = line[i] == '\\' && ++i < line.size();
            value += escaped && line[i] == 'n' ? '\n' : line[i];
        }
        if (key != "Exec") {
            return value;
        }
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
            return std::nullopt;
        }
        std::string program;
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == '"' || value[i] == '`' || value[i] == '$' ||
                (value[i] == '%' && value[++i] != '%')) {
                return std::nullopt;  // unescaped, or a field code
            }
            program += value[i] == '\\' ? value[++i] : value[i];
        }
        return program;
    }
    return std::nullopt;
}

}  // namespace qhs
