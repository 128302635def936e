#include "packetmode/ByteRenderings.h"

#include <algorithm>
#include <array>

namespace qhs {

namespace {

// "% 3u" of every byte value, built once.
constexpr std::array<std::array<char, 3>, 256> decimalDigits() {
    std::array<std::array<char, 3>, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        table[value][0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
        table[value][1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
        table[value][2] = static_cast<char>('0' + value % 10);
    }
    return table;
}

constexpr std::array<std::array<char, 3>, 256> DecimalDigits = decimalDigits();
constexpr char HexDigits[] = "0123456789ABCDEF";

// Appends the separated fields of a rendering. Full lines take one character more than the
// fields and spaces alone, because "\r\n" replaces a single space.
template <std::size_t FieldWidth, std::size_t PerLine, typename WriteField>
void appendFields(std::span<const std::uint8_t> bytes, std::string& out, WriteField writeField) {
    const std::size_t count = bytes.size();
    const std::size_t start = out.size();
    out.resize(start + count * (FieldWidth + 1) + count / PerLine);
    char* cursor = out.data() + start;
    for (std::size_t i = 0; i < count; ++i) {
        writeField(bytes[i], cursor);
        cursor += FieldWidth;
        if ((i + 1) % PerLine == 0) {
            *cursor++ = '\r';
            *cursor++ = '\n';
        } else {
            *cursor++ = ' ';
        }
    }
}

}  // namespace

void appendDecimal(std::span<const std::uint8_t> bytes, std::string& out) {
    appendFields<DecimalByteWidth, DecimalBytesPerLine>(
        bytes, out, [](std::uint8_t byte, char* field) {
            std::copy_n(DecimalDigits[byte].data(), DecimalByteWidth, field);
        });
}

void appendHex(std::span<const std::uint8_t> bytes, std::string& out) {
    appendFields<HexByteWidth, HexBytesPerLine>(bytes, out, [](std::uint8_t byte, char* field) {
        field[0] = HexDigits[byte >> 4];
        field[1] = HexDigits[byte & 0x0F];
    });
}

void appendText(std::span<const std::uint8_t> bytes, std::string& out) {
    out.reserve(out.size() + bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte != 0) {
            out.push_back(static_cast<char>(byte));
        }
    }
}

std::string renderDecimal(std::span<const std::uint8_t> bytes) {
    std::string text;
    appendDecimal(bytes, text);
    return text;
}

std::string renderHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    appendHex(bytes, text);
    return text;
}

std::string renderText(std::span<const std::uint8_t> bytes) {
    std::string text;
    appendText(bytes, text);
    return text;
}

}  // namespace qhs
