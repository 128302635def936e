#pragma once

#include <optional>
#include <sstream>
#include <string>

namespace qhs {

// Reads a key of a desktop entry the way launchers do: the value's string escapes undone.
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
            if (line[i] != '\\' || i + 1 == line.size()) {
                value += line[i];
                continue;
            }
            const char next = line[++i];
            value += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        }
        return value;
    }
    return std::nullopt;
}

// The program an Exec value starts, when it is one argument quoted by the entry's rules.
inline std::optional<std::string> execProgram(const std::string& exec) {
    if (exec.size() < 2 || exec.front() != '"' || exec.back() != '"') {
        return std::nullopt;
    }
    std::string program;
    for (std::size_t i = 1; i + 1 < exec.size(); ++i) {
        char c = exec[i];
        if (c == '\\') {
            c = exec[++i];
            if (c != '"' && c != '`' && c != '$' && c != '\\') {
                return std::nullopt;
            }
        } else if (c == '"' || c == '`' || c == '$') {
            return std::nullopt;  // must have been escaped
        } else if (c == '%') {
            if (exec[++i] != '%') {
                return std::nullopt;  // a field code
            }
        }
        program += c;
    }
    return program;
}

}  // namespace qhs
