#pragma once

#include <cstdint>
#include <optional>
#include <regex>
#include <string>

namespace qhs::bench {

// The number before `words` in tcpdump's closing summary ("12 packets captured").
inline std::optional<std::uint64_t> countBefore(const std::string& text, const char* words) {
    std::smatch match;
    if (std::regex_search(text, match, std::regex(std::string("(\\d+) ") + words))) {
        return std::stoull(match[1].str());
    }
    return std::nullopt;
}

}  // namespace qhs::bench
