#pragma once

#include <cstdint>
#include <string_view>

namespace qhs {

// A number field's text as the program reads it: leading blanks are skipped, then an
// optional sign and the decimal digits up to the first other character. No digits reads
// as 0; a value beyond the 32-bit range is held at its nearer end, so a huge number stays
// huge instead of wrapping round to a small or negative one.
std::int32_t signedNumberValue(std::string_view text);

// The value of one hexadecimal digit (either case), or -1 for any other character.
constexpr int hexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace qhs
