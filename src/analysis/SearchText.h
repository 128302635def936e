#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qhs {

// The text that find and the string filters search: the payload bytes with every zero byte
// turned into a space, so a payload can be searched as one text; with foldCase the letters
// A to Z also become a to z (no other byte changes). `out` must hold payload.size() bytes.
void writeSearchText(std::span<const std::uint8_t> payload, bool foldCase, char* out);

// The same text in a caller-owned buffer, which is only reallocated when it is too small,
// so a caller that keeps its buffer searches without allocating.
std::string_view makeSearchText(std::span<const std::uint8_t> payload, bool foldCase,
                                std::string& buffer);

// A to Z become a to z; the fold applied to search strings when case does not matter.
std::string foldToLowerCase(std::string_view text);

}  // namespace qhs
