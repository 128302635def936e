#include "packetmode/ByteRenderings.h"

#include <array>
#include <cstddef>

namespace qhs {

namespace {

constexpr std::size_t DecimalBytesPerLine = 10;
constexpr std::size_t HexBytesPerLine = 16;

// "% 3u" of every byte value: three characters, right-aligned.
constexpr std::array<std::array<char, 3>, 256> decimalDigits() {
    std::array<std::array<char, 3>, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        table[value][0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
        table[value][1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
        table[value][2] = static_cast<char>('0' + value % 10);
    }
    return table;
}
constexpr auto DecimalDigits = decimalDigits();
constexpr char HexDigits[] = "0123456789ABCDEF";

// Writes `CellWidth` characters per byte plus its separator into space made at the end of
// `out` in one step, so the loop neither checks capacity nor allocates per byte.
template <std::size_t CellWidth, std::size_t BytesPerLine, typename WriteCell>
void renderCells(std::span<const std::uint8_t> bytes, std::string& out, WriteCell writeCell) {
    const std::size_t count = bytes.size();
    const std::size_t start = out.size();
    out.resize(start + count * (CellWidth + 1) + count / BytesPerLine);
    char* cursor = out.data() + start;
    for (std::size_t i = 0; i < count; ++i) {
        writeCell(cursor, bytes[i]);
        cursor += CellWidth;
        if ((i + 1) % BytesPerLine == 0) {
            *cursor++ = '\r';
            *cursor++ = '\n';
        } else {
            *cursor++ = ' ';
        }
    }
}

}  // namespace

void renderDecimal(std::span<const std::uint8_t> bytes, std::string& out) {
    renderCells<3, DecimalBytesPerLine>(bytes, out, [](char* cell, std::uint8_t value) {
        cell[0] = DecimalDigits[value][0];
        cell[1] = DecimalDigits[value][1];
        cell[2] = DecimalDigits[value][2];
    });
}

void renderHex(std::span<const std::uint8_t> bytes, std::string& out) {
    renderCells<2, HexBytesPerLine>(bytes, out, [](char* cell, std::uint8_t value) {
        cell[0] = HexDigits[value >> 4];
        cell[1] = HexDigits[value & 0x0F];
    });
}

void renderText(std::span<const std::uint8_t> bytes, std::string& out) {
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace qhs
