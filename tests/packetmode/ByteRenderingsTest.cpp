#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "packetmode/ByteRenderings.h"

namespace qhs {
namespace {

std::vector<std::uint8_t> countingBytes(std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(ByteRenderings, DecimalPutsTenRightAlignedBytesOnEachLine) {
    // 40 bytes: four full lines of 41 characters, each ending in "\r\n".
    const std::string forty = renderDecimal(countingBytes(40));
    ASSERT_EQ(forty.size(), 4 * DecimalLineWidth);
    for (std::size_t line = 0; line < 4; ++line) {
        EXPECT_EQ(forty.substr(line * 41 + 39, 2), "\r\n") << line;
    }
    EXPECT_EQ(forty.substr(123), " 30  31  32  33  34  35  36  37  38  39\r\n");

    // 41 bytes: a fifth line holding one number followed by a space.
    const std::string fortyOne = renderDecimal(countingBytes(41));
    EXPECT_EQ(fortyOne.substr(0, forty.size()), forty);
    EXPECT_EQ(fortyOne.substr(forty.size()), " 40 ");
}

TEST(ByteRenderings, HexPutsSixteenUpperCaseBytesOnEachLine) {
    EXPECT_EQ(renderHex(countingBytes(17, 0xF0)),
              "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\r\n00 ");
    EXPECT_EQ(renderHex(countingBytes(32)).size(), 2 * HexLineWidth);
}

TEST(ByteRenderings, AgreeWithPrintfForEveryByteValue) {
    const std::vector<std::uint8_t> bytes = countingBytes(256);
    const std::string decimal = renderDecimal(bytes);
    const std::string hex = renderHex(bytes);
    for (unsigned value = 0; value < 256; ++value) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "%3u", value);  // the space flag is void for %u
        EXPECT_EQ(decimal.substr(decimalBytePosition(value), 3), expected);
        std::snprintf(expected, sizeof expected, "%02X", value);
        EXPECT_EQ(hex.substr(hexBytePosition(value), 2), expected);
    }
}

TEST(ByteRenderings, TextLeavesOutZeroBytesAndKeepsEveryOtherByte) {
    const std::vector<std::uint8_t> bytes = {'G', 0, 'E', 'T', '\r', '\n', 0, 0, 0x01, 0xE9, 0x7F};
    EXPECT_EQ(renderText(bytes), "GET\r\n\x01\xE9\x7F");
    EXPECT_EQ(renderText(std::vector<std::uint8_t>(50, 0)), "");

    std::string record = "bytes: ";
    appendHex(countingBytes(2), record);
    EXPECT_EQ(record, "bytes: 00 01 ");
}

}  // namespace
}  // namespace qhs
