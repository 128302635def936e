#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "packetmode/CaptureFileExport.h"
#include "support/CommandOutput.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

template <typename Value>
Value readAt(const std::string& bytes, std::size_t offset) {
    Value value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// The file is the pcap format peers read: tcpdump and tshark list each stored datagram with
// its arrival to the nanosecond, leave released slots out and take datagrams of any length.
TEST(CaptureFileExport, TcpdumpAndTsharkReadEveryStoredDatagramWithItsNanosecondTime) {
    PacketTable table;
    const std::int64_t arrival = 1'700'000'000'123'456'789;
    table.lock().store().append(CapturedPacket::copyOf(makeDatagram(17, 40, 5000, 53).data(), 40),
                                "t", arrival);
    table.lock().store().append(CapturedPacket::copyOf(makeDatagram(6, 60).data(), 60), "t",
                                arrival + 1);
    const std::vector<std::uint8_t> largest = makeDatagram(17, 65535, 7, 9);
    table.lock().store().append(CapturedPacket::copyOf(largest.data(), 65535), "t",
                                arrival + 2'000'000'000);
    table.lock().store().release(1);

    TempDir dir;
    const std::string path = (dir.path() / "export.pcap").string();
    std::atomic<bool> cancel{false};
    const SaveOutcome outcome = writeCaptureFile(path, table, defaultSettings(), cancel);
    ASSERT_EQ(outcome.status, SaveStatus::Saved);
    EXPECT_EQ(outcome.slotsProcessed, 3);

    const std::string bytes = fileContents(path);
    ASSERT_EQ(bytes.size(), 24u + (16 + 40) + (16 + 65535));
    EXPECT_EQ(readAt<std::uint32_t>(bytes, 0), PcapNanosecondMagic);
    EXPECT_EQ(readAt<std::uint32_t>(bytes, 20), PcapLinkTypeIpv4);
    EXPECT_EQ(readAt<std::uint32_t>(bytes, 24), 1'700'000'000u);
    EXPECT_EQ(readAt<std::uint32_t>(bytes, 28), 123'456'789u);
    EXPECT_EQ(readAt<std::uint32_t>(bytes, 32), 40u);
    EXPECT_EQ(
        bytes.compare(
            40, 40, std::string(reinterpret_cast<const char*>(table.lock().store().packet(0)), 40)),
        0);

    std::istringstream tcpdump(
        commandOutput("tcpdump -n --nano -tt -r '" + path + "' 2>/dev/null"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(tcpdump, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u) << "the released slot is left out";
    EXPECT_EQ(lines[0].rfind("1700000000.123456789 IP 10.0.0.1.5000 > 10.0.0.2.53: ", 0), 0u)
        << lines[0];
    EXPECT_EQ(lines[1].rfind("1700000002.123456789 IP 10.0.0.1.7 > 10.0.0.2.9: ", 0), 0u)
        << lines[1];

    EXPECT_EQ(commandOutput("tshark -r '" + path +
                            "' -T fields -e frame.time_epoch -e ip.len 2>/dev/null"),
              "1700000000.123456789\t40\n1700000002.123456789\t65535\n");
}

}  // namespace
}  // namespace qhs
