#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/Templates.h"
#include "packetmode/ByteRenderings.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/TestStore.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

using namespace std::string_literals;

TEST(ByteRenderings, DecimalAndHexAppendAfterWhatIsThere) {
    std::vector<std::uint8_t> bytes;
    for (int value = 0; value <= 16; ++value) {
        bytes.push_back(static_cast<std::uint8_t>(value == 16 ? 255 : value));
    }
    std::string out = "kept";
    appendDecimal(std::span(bytes).first(12), out);
    EXPECT_EQ(out, "kept  0   1   2   3   4   5   6   7   8   9\r\n 10  11 ");
    out.clear();
    appendHex(bytes, out);
    EXPECT_EQ(out, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\nFF ");
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
    test::storeDatagram(*store, test::exampleTcpDatagram(), "2003.04.03 - 09:05:07.042");
    const std::string text = record(0, {});
    ASSERT_TRUE(text.starts_with("\r\n"));
    // Columns from 1 after the break: 1-4 type, 6-9 size, 11-25 and 27-41 addresses,
    // 44-48 and 50-54 ports, 57 on the time stamp.
    const std::string heading = text.substr(2);
    EXPECT_EQ(heading.substr(0, 4), " TCP");
    EXPECT_EQ(heading.substr(5, 4), "  60");
    EXPECT_EQ(heading.substr(10, 15), "   192.168.0.10");
    EXPECT_EQ(heading.substr(26, 15), "       10.0.0.5");
    EXPECT_EQ(heading.substr(43, 5), " 1025");
    EXPECT_EQ(heading.substr(49, 5), "   80");
    EXPECT_EQ(heading.substr(56), "[2003.04.03 - 09:05:07.042]");
}

TEST_F(PacketRecordTest, DataFollowsInTheFirstChosenRendering) {
    const auto datagram = test::udpDatagram(53, 1053, "hi\r\n");  // 32 bytes
    test::storeDatagram(*store, datagram, "t");
    const std::string heading =
        "\r\n\r\n UDP   32      172.16.5.4 255.255.255.255     53  1053  [t]\r\n\r\n";
    EXPECT_EQ(record(0, {.text = true, .hex = true}),
              heading + std::string(datagram.begin(), datagram.end()));
    const std::string decimal = record(0, {.dec = true, .hex = true});
    EXPECT_EQ(decimal.substr(heading.size(), 44), " 69   0   0  32   0   0   0   0  64  17\r\n  0");
    EXPECT_EQ(record(0, {.hex = true}), heading +
                                            "45 00 00 20 00 00 00 00 40 11 00 00 AC 10 05 04\r\n"
                                            "FF FF FF FF 00 35 04 1D 00 00 00 00 68 69 0D 0A\r\n");
}

TEST_F(PacketRecordTest, OddDatagramsStayInsideTheirBytesAndTheLine) {
    test::TestDatagram wide;
    wide.protocol = 19;  // "DCN-MEAS": longer than its column, and no ports
    wide.payload.assign(10000 - 20, 0);
    test::storeDatagram(*store, wide.bytes(), "");
    test::storeDatagram(*store, {0x45, 0, 0, 60, 1, 2, 3, 4}, "t");  // shorter than any header
    test::storeDatagram(*store, {}, "t");
    test::storeDatagram(*store, test::exampleTcpDatagram(), "t");
    store->release(3);

    // A longer value pushes the rest right; an empty time text still gives the record.
    EXPECT_EQ(record(0, {}), "\r\nDCN-MEAS 10000        10.0.0.1        10.0.0.2      0     0  []");
    EXPECT_EQ(record(1, {.text = true}),
              "\r\n\r\n        8         0.0.0.0         0.0.0.0      0     0  [t]"
              "\r\n\r\n\x45\0\0\x3C\x01\x02\x03\x04"s);
    for (std::int32_t emptySlot : {2, 3, -1, PacketStoreCapacity}) {
        EXPECT_EQ(record(emptySlot, {.hex = true}), "") << emptySlot;
    }
}

TEST(RecordFile, WriteErrorIsKeptAndReportedAtTheLatestOnClose) {
    RecordFile file;
    ASSERT_EQ(file.create("/dev/full"), 0);
    EXPECT_EQ(file.write("buffered"), 0);
    EXPECT_EQ(file.close(), ENOSPC);
    ASSERT_EQ(file.create("/dev/full"), 0);
    EXPECT_EQ(file.write(std::string(RecordFile::FlushThreshold, 'x')), ENOSPC);
    EXPECT_EQ(file.write("more"), ENOSPC);
    EXPECT_TRUE(file.pending().empty());
}

TEST(WriteErrorMessage, NamesFullDiskAndFailedDiskOperationElseOnlyThePath) {
    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
    const std::string full =
        "2003.04.03 09:05\r\n\r\nError while writing file with path:\r\n  /d/x\r\n"
        "Windows reports that the disk is full.";
    for (int code : {ENOSPC, EDQUOT}) {
        EXPECT_EQ(reportWriteError(code, "/d/x", "%Y.%MY.%D %H24:%MN"),
                  (UserMessage{full, "Error while writing to file", MessageIcon::Stop}));
    }
    EXPECT_TRUE(reportWriteError(EIO, "/d/x", "%Y")
                    .text.ends_with("\r\nWindows reports that while accessing the hard disk, a "
                                    "disk operation failed even "
                                    "after retries."));
    // Placeholders in a path are not formatted.
    EXPECT_EQ(
        reportWriteError(EACCES, "/d/%s%ld", "%Y").text,
        "Error while writing file with path:\r\n  /d/%s%ld\r\nThe cause of the error is unknown.");
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// An IPv6 address is wider than its field, which widens for it; the rest keeps its layout.
TEST_F(PacketRecordTest, HeadingWidensItsAddressFieldsForIpv6) {
    test::TestDatagram tcp;
    tcp.sourcePort = 1025;
    test::storeDatagram(*store, test::asIpv6(tcp, 0x10, 2), "t");
    EXPECT_EQ(record(0, {}), "\r\n TCP   60        fd00::10         fd00::2   1025    80  [t]");
}

}  // namespace
}  // namespace qhs
