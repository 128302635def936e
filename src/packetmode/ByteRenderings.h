#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qhs {

// The three renderings of a datagram's bytes shared by the detail view, the saved list and
// the log. Each appends to `out`, so a caller that reuses one buffer allocates nothing.

// Every byte as "% 3u", followed by "\r\n" when its position (from 1) is a multiple of 10
// and by a space otherwise.
void renderDecimal(std::span<const std::uint8_t> bytes, std::string& out);

// Every byte as "%02X", followed by "\r\n" when its position (from 1) is a multiple of 16
// and by a space otherwise.
void renderHex(std::span<const std::uint8_t> bytes, std::string& out);

// The bytes exactly as they are, NUL bytes and line breaks included.
void renderText(std::span<const std::uint8_t> bytes, std::string& out);

}  // namespace qhs
