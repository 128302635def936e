#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/Templates.h"
#include "packetmode/ByteRenderings.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/RecordFile.h"
#include "packetmode/TestStore.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

using namespace std::string_literals;
using test::storeDatagram;

std::string decimal(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    renderDecimal(bytes, out);
    return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    renderHex(bytes, out);
    return out;
}

TEST(ByteRenderings, DecimalIsThreeWideAndBreaksAfterEveryTenthByte) {
    EXPECT_EQ(decimal({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 255}),
              "  0   1   2   3   4   5   6   7   8   9\r\n 10 255 ");
    EXPECT_EQ(decimal({100, 99, 9, 0, 1, 2, 3, 4, 5, 6}),
              "100  99   9   0   1   2   3   4   5   6\r\n");
    EXPECT_EQ(decimal({}), "");
}

TEST(ByteRenderings, HexIsTwoUpperCaseDigitsAndBreaksAfterEverySixteenthByte) {
    std::vector<std::uint8_t> bytes;
    for (int value = 0; value <= 16; ++value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    bytes.push_back(0xAB);
    EXPECT_EQ(hex(bytes), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n10 AB ");
    bytes.resize(16);
    EXPECT_TRUE(hex(bytes).ends_with("0F\r\n"));
    EXPECT_EQ(hex({0xFF}), "FF ");
}

TEST(ByteRenderings, AppendToWhatTheBufferHoldsAndTextKeepsEveryByte) {
    std::string out = "head";
    renderHex(std::vector<std::uint8_t>{0x01}, out);
    renderDecimal(std::vector<std::uint8_t>{7}, out);
    const std::vector<std::uint8_t> raw{'a', 0, '\r', '\n', 0xFF, 'b'};
    renderText(raw, out);
    EXPECT_EQ(out,
              "head01   7 a\0\r\n\xFF"
              "b"s);
}

class PacketRecordTest : public testing::Test {
  protected:
    // One record written through a real file, as the save and the log write it.
    std::string record(std::int32_t slot, RecordFlags flags) {
        const std::string path = (dir.path() / "record.txt").string();
        RecordFile file;
        EXPECT_EQ(file.create(path), 0);
        EXPECT_EQ(writePacketRecord(file, *store, slot, flags), 0);
        EXPECT_EQ(file.close(), 0);
        return test::readFile(path);
    }

    TempDir dir;
    std::unique_ptr<PacketStore> store = std::make_unique<PacketStore>();
};

TEST_F(PacketRecordTest, HeadingPutsEachFieldInItsColumns) {
    storeDatagram(*store, test::exampleTcpDatagram(), "2003.04.03 - 09:05:07.042");
    const std::string text = record(0, {});
    ASSERT_TRUE(text.starts_with("\r\n"));
    const std::string heading = text.substr(2);
    // Columns counted from 1 after the line break: 1-4 type, 6-9 size, 11-25 source,
    // 27-41 destination, 44-48 and 50-54 ports, 57 on the time stamp.
    EXPECT_EQ(heading.substr(0, 4), " TCP");
    EXPECT_EQ(heading.substr(5, 4), "  60");
    EXPECT_EQ(heading.substr(10, 15), "   192.168.0.10");
    EXPECT_EQ(heading.substr(26, 15), "       10.0.0.5");
    EXPECT_EQ(heading.substr(43, 5), " 1025");
    EXPECT_EQ(heading.substr(49, 5), "   80");
    EXPECT_EQ(heading.substr(56), "[2003.04.03 - 09:05:07.042]");
    EXPECT_EQ(
        heading,
        " TCP   60    192.168.0.10        10.0.0.5   1025    80  [2003.04.03 - 09:05:07.042]");
}

TEST_F(PacketRecordTest, DataFollowsInTheFirstChosenRendering) {
    const auto datagram = test::udpDatagram(53, 1053, "hi\r\n");  // 32 bytes
    storeDatagram(*store, datagram, "t");
    const std::string heading =
        "\r\n\r\n UDP   32      172.16.5.4 255.255.255.255     53  1053  [t]\r\n\r\n";

    const std::string asText = record(0, {.text = true, .hex = true});
    EXPECT_EQ(asText, heading + std::string(datagram.begin(), datagram.end()));

    const std::string asDecimal = record(0, {.dec = true, .hex = true});
    EXPECT_EQ(asDecimal.substr(0, heading.size()), heading);
    EXPECT_EQ(asDecimal.substr(heading.size(), 42), " 69   0   0  32   0   0   0   0  64  17\r\n ");
    EXPECT_TRUE(asDecimal.ends_with(" 13  10 "));

    const std::string asHex = record(0, {.hex = true});
    EXPECT_EQ(asHex.substr(0, heading.size()), heading);
    EXPECT_EQ(asHex.substr(heading.size()),
              "45 00 00 20 00 00 00 00 40 11 00 00 AC 10 05 04\r\n"
              "FF FF FF FF 00 35 04 1D 00 00 00 00 68 69 0D 0A\r\n");
}

TEST_F(PacketRecordTest, LongValuesPushTheRestOfTheLineRight) {
    test::TestDatagram datagram;
    datagram.protocol = 19;  // "DCN-MEAS", and no ports
    datagram.payload.assign(10000 - 20, 0);
    storeDatagram(*store, datagram.bytes(), "t");
    EXPECT_EQ(record(0, {}),
              "\r\nDCN-MEAS 10000        10.0.0.1        10.0.0.2      0     0  [t]");
}

TEST_F(PacketRecordTest, FieldsBeyondAShortDatagramReadAsZero) {
    const std::vector<std::uint8_t> fragment{0x45, 0, 0, 60, 1, 2, 3, 4};
    storeDatagram(*store, fragment, "t");
    EXPECT_EQ(record(0, {.text = true}),
              "\r\n\r\n        8         0.0.0.0         0.0.0.0      0     0  [t]"
              "\r\n\r\n\x45\0\0\x3C\x01\x02\x03\x04"s);
}

TEST_F(PacketRecordTest, EmptyOrUnknownSlotsWriteNothing) {
    storeDatagram(*store, test::exampleTcpDatagram(), "t");
    storeDatagram(*store, {}, "t");  // a zero-length datagram
    store->release(0);
    EXPECT_EQ(record(0, {.hex = true}), "");
    EXPECT_EQ(record(1, {.hex = true}), "");
    EXPECT_EQ(record(-1, {}), "");
    EXPECT_EQ(record(PacketStoreCapacity, {}), "");
}

TEST_F(PacketRecordTest, EmptyTimeTextStillGivesTheRecord) {
    storeDatagram(*store, test::exampleTcpDatagram(), "");
    EXPECT_TRUE(record(0, {}).ends_with("  []"));
}

TEST(RecordFile, WriteErrorIsKeptAndReportedAtTheLatestOnClose) {
    RecordFile small;
    ASSERT_EQ(small.create("/dev/full"), 0);
    EXPECT_EQ(small.write("a few bytes stay in the buffer"), 0);
    EXPECT_EQ(small.close(), ENOSPC);

    RecordFile large;
    ASSERT_EQ(large.create("/dev/full"), 0);
    const std::string block(RecordFile::FlushThreshold, 'x');
    EXPECT_EQ(large.write(block), ENOSPC);
    EXPECT_EQ(large.write("more"), ENOSPC);
    EXPECT_TRUE(large.pending().empty());
    EXPECT_EQ(large.close(), ENOSPC);
}

TEST(RecordFile, OpeningReportsTheSystemError) {
    RecordFile file;
    EXPECT_EQ(file.create("/nonexistent-folder-qhs/list.txt"), ENOENT);
    EXPECT_EQ(file.openForAppend("/"), EISDIR);
    EXPECT_FALSE(file.isOpen());
}

class WriteErrorMessage : public testing::Test {
  protected:
    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
};

TEST_F(WriteErrorMessage, FullDiskGivesTimeThenPathThenCause) {
    const std::string expected =
        "2003.04.03 09:05\r\n\r\nError while writing file with path:\r\n  /data/list.txt\r\n"
        "Windows reports that the disk is full.";
    for (int code : {ENOSPC, EDQUOT}) {
        const UserMessage message = reportWriteError(code, "/data/list.txt", "%Y.%MY.%D %H24:%MN");
        EXPECT_EQ(message.text, expected);
        EXPECT_EQ(message.caption, "Error while writing to file");
        EXPECT_EQ(message.icon, MessageIcon::Stop);
    }
}

TEST_F(WriteErrorMessage, FailedDiskOperationAndUnknownCauses) {
    EXPECT_EQ(reportWriteError(EIO, "/d/x", "%Y").text,
              "2003\r\n\r\nError while writing file with path:\r\n  /d/x\r\nWindows reports that "
              "while accessing the hard disk, a disk operation failed even after retries.");
    // Unknown causes name only the path; placeholders in a path are not formatted.
    const std::string unknown =
        "Error while writing file with path:\r\n  /d/%s%ld\r\nThe cause of the error is unknown.";
    EXPECT_EQ(reportWriteError(EACCES, "/d/%s%ld", "%Y").text, unknown);
    EXPECT_EQ(reportWriteError(0, "/d/%s%ld", "%Y").text, unknown);
}

}  // namespace
}  // namespace qhs
