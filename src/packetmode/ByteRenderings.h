#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qhs {

// The three renderings of stored bytes that the detail view, the saved packet list and the
// capture log show. Line ends are "\r\n", as the text files carry them.
//
// Dec: each byte right-aligned in three characters, then "\r\n" after every tenth byte and a
// space after every other one, so a full line is 41 characters.
// Hex: each byte as two upper-case digits, then "\r\n" after every sixteenth byte and a space
// after every other one, so a full line is 49 characters.
// Text: every byte that is not zero, unchanged; zero bytes are left out.
inline constexpr std::size_t DecimalBytesPerLine = 10;
inline constexpr std::size_t DecimalLineWidth = 41;
inline constexpr std::size_t DecimalByteWidth = 3;
inline constexpr std::size_t HexBytesPerLine = 16;
inline constexpr std::size_t HexLineWidth = 49;
inline constexpr std::size_t HexByteWidth = 2;

std::string renderDecimal(std::span<const std::uint8_t> bytes);
std::string renderHex(std::span<const std::uint8_t> bytes);
std::string renderText(std::span<const std::uint8_t> bytes);

// The same renderings appended to `out`, for writers that build one large text.
void appendDecimal(std::span<const std::uint8_t> bytes, std::string& out);
void appendHex(std::span<const std::uint8_t> bytes, std::string& out);
void appendText(std::span<const std::uint8_t> bytes, std::string& out);

// Where byte `index` (from 0) begins in a Dec or Hex rendering.
constexpr std::size_t decimalBytePosition(std::size_t index) {
    return DecimalLineWidth * (index / DecimalBytesPerLine) + 4 * (index % DecimalBytesPerLine);
}
constexpr std::size_t hexBytePosition(std::size_t index) {
    return HexLineWidth * (index / HexBytesPerLine) + 3 * (index % HexBytesPerLine);
}

}  // namespace qhs
