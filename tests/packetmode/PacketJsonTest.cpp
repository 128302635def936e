#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "packetmode/PacketJson.h"

namespace qhs {
namespace {

std::string quoted(std::string_view text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

// A path or a header in a record may hold any bytes: UTF-8 comes through as it is, and
// nothing a terminal acts on (C0, DEL, C1 controls) or a JSON reader refuses (a stray byte)
// does.
TEST(JsonString, Utf8PassesControlsAndStrayBytesAreEscaped) {
    EXPECT_EQ(quoted("Grüße/日本.html"), "\"Grüße/日本.html\"");
    EXPECT_EQ(quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quoted("\x1b[2J\x7f"), "\"\\u001b[2J\\u007f\"");
    EXPECT_EQ(quoted("\xc2\x9b"
                     "31m"),
              "\"\\u009b31m\"");
    EXPECT_EQ(quoted("\xff\xc3(\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82"),
              "\"\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd"
              "\\ufffd\\ufffd\\ufffd\"");
}

TEST(JsonTime, IsoTextInUtcToTheNanosecondBeforeAndAfter1970) {
    EXPECT_EQ(isoTime(0), "1970-01-01T00:00:00.000000000Z");
    EXPECT_EQ(isoTime(1700000000250000001), "2023-11-14T22:13:20.250000001Z");
    EXPECT_EQ(isoTime(-500000000), "1969-12-31T23:59:59.500000000Z");
    EXPECT_EQ(isoTime(std::numeric_limits<std::int64_t>::min()), "1677-09-21T00:12:43.145224192Z");
    EXPECT_EQ(isoTime(std::numeric_limits<std::int64_t>::max()), "2262-04-11T23:47:16.854775807Z");
}

}  // namespace
}  // namespace qhs
