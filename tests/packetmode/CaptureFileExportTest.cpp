#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/ClassicPcapFrames.h"
#include "capture/PcapngFrames.h"
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

// A stamp as tshark writes it: whole seconds rounded down, then nine decimals of the rest
// (-0.5 s is "-1.500000000").
std::string epochText(std::int64_t stamp) {
    const std::int64_t seconds = stamp / 1'000'000'000 - (stamp % 1'000'000'000 < 0 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%09lld", static_cast<long long>(seconds),
                  static_cast<long long>(stamp - seconds * 1'000'000'000));
    return text;
}

// The frames of a file the export wrote, as the program reads them.
std::unique_ptr<CaptureFrames> framesOf(const std::string& path) {
    std::FILE* const file = std::fopen(path.c_str(), "rb");
    char magic[4] = {};
    EXPECT_EQ(std::fread(magic, 1, sizeof magic, file), sizeof magic);
    std::rewind(file);
    if (std::memcmp(magic, "\x0A\x0D\x0D\x0A", sizeof magic) == 0) {
        return std::make_unique<PcapngFrames>(file);
    }
    return std::make_unique<ClassicPcapFrames>(file);
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

// A datagram of more than 64 KiB (its total length field 0, as Linux sends one) fits the
// file's snap length; stamps a pcap file cannot hold (after 2106, before 1970) make the file
// pcapng. tcpdump, tshark and the program read every datagram back whole, at its time.
TEST(CaptureFileExport, LongDatagramsAndStampsPcapCannotHoldReadBackWhole) {
    std::vector<std::uint8_t> large = makeDatagram(6, 60);
    large.resize(70000, 0x5A);
    large[2] = large[3] = 0;
    const std::vector<std::uint8_t> small = makeDatagram(17, 40, 5000, 53);
    const std::vector<std::pair<const std::vector<std::uint8_t>*, std::int64_t>> stored = {
        {&large, 1'700'000'000'123'456'789},
        {&small, 4'294'967'301'250'000'000},  // 2106-02-07 06:28:21.25
        {&small, -500'000'000},
        {&small, 0},
    };
    TempDir dir;
    for (const std::size_t kept : {std::size_t{1}, stored.size()}) {
        SCOPED_TRACE(kept);
        PacketTable table;
        for (std::size_t index = 0; index < kept; ++index) {
            const auto& [datagram, stamp] = stored[index];
            table.lock().store().append(
                CapturedPacket::copyOf(datagram->data(),
                                       static_cast<std::uint32_t>(datagram->size())),
                "t", stamp);
        }
        const std::string path = (dir.path() / "export.pcap").string();
        std::atomic<bool> cancel{false};
        ASSERT_EQ(writeCaptureFile(path, table, defaultSettings(), cancel).status,
                  SaveStatus::Saved);
        EXPECT_EQ(fileContents(path).substr(0, 4),
                  kept == 1 ? "\x4D\x3C\xB2\xA1" : "\x0A\x0D\x0D\x0A");

        ASSERT_EQ(checkCaptureFrames(*framesOf(path), {}), std::nullopt);
        const std::unique_ptr<CaptureFrames> readBack = framesOf(path);
        CaptureFrame frame;
        std::string tsharkExpected;
        for (std::size_t index = 0; index < kept; ++index) {
            const auto& [datagram, stamp] = stored[index];
            ASSERT_EQ(readBack->next(frame), FrameRead::Frame);
            EXPECT_EQ(std::vector<std::uint8_t>(frame.bytes, frame.bytes + frame.length),
                      *datagram);
            EXPECT_EQ(frame.arrivalNanoseconds, stamp);
            tsharkExpected += std::to_string(datagram->size()) + "\t" + epochText(stamp) + "\n";
        }
        EXPECT_EQ(readBack->next(frame), FrameRead::End);
        EXPECT_EQ(commandOutput("tshark -r '" + path +
                                "' -T fields -e frame.cap_len -e frame.time_epoch 2>/dev/null"),
                  tsharkExpected);
        // libpcap 1.10 holds no time outside 1970 to 2106 (it shows them wrapped or as an
        // error), but reads every record whole.
        EXPECT_EQ(
            commandOutput("tcpdump -n --nano -tt -r '" + path + "' 2>/dev/null | grep -c ' IP '"),
            std::to_string(kept) + "\n");
    }
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// IPv4 alone keeps raw IPv4; with IPv6 the file says raw IP, which holds both. A file written
// as packets arrive turns its header to raw IP at the first IPv6 packet, whether the header
// is still buffered or already out; a pipe, which cannot be written over, says raw IP at once.
TEST(CaptureFileExport, Ipv6MakesTheLinkTypeRawIpAndEveryPacketReadsAsItWasSent) {
    const std::vector<std::uint8_t> ipv4 = makeDatagram(17, 40, 5000, 5001);
    test::TestDatagram udp;
    udp.protocol = 17;
    udp.sourcePort = 6000;
    udp.destinationPort = 7000;
    const std::vector<std::uint8_t> ipv6 = test::asIpv6(udp.withPayload("six"), 1, 2);
    const std::string expected =
        "IP 10.0.0.1.5000 > 10.0.0.2.5001: \nIP6 fd00::1.6000 > fd00::2.7000: \n";
    const auto listed = [](const std::string& path) {
        return commandOutput("tcpdump -n -t -r '" + path + "' 2>/dev/null | sed 's/: .*/: /'");
    };
    const std::int64_t stamp = 1'700'000'000'000'000'000;
    TempDir dir;

    PacketTable table;
    table.lock().store().append(CapturedPacket::copyOf(ipv4.data(), 40), "t", stamp);
    table.lock().store().append(
        CapturedPacket::copyOf(ipv6.data(), static_cast<std::uint32_t>(ipv6.size())), "t", stamp);
    const std::string exported = (dir.path() / "export.pcap").string();
    std::atomic<bool> cancel{false};
    ASSERT_EQ(writeCaptureFile(exported, table, defaultSettings(), cancel).status,
              SaveStatus::Saved);
    EXPECT_EQ(readAt<std::uint32_t>(fileContents(exported), 20), PcapLinkTypeRaw);
    EXPECT_EQ(listed(exported), expected);

    for (const std::size_t ipv4First : {std::size_t{1}, std::size_t{100}}) {
        for (const char* name : {"stream.pcap", "stream.pcapng"}) {
            SCOPED_TRACE(std::string(name) + " after " + std::to_string(ipv4First));
            const std::string path = (dir.path() / name).string();
            PcapStreamWriter writer;
            ASSERT_EQ(writer.create(path), 0);
            for (std::size_t index = 0; index < ipv4First; ++index) {
                ASSERT_EQ(writer.append(ipv4, 40, stamp), 0);
                if (ipv4First == 1) {
                    ASSERT_EQ(writer.flush(), 0);  // the header is out before the IPv6 packet
                }
            }
            ASSERT_EQ(writer.append(ipv6, static_cast<std::uint32_t>(ipv6.size()), stamp), 0);
            ASSERT_EQ(writer.close(), 0);
            EXPECT_EQ(commandOutput("tshark -r '" + path + "' -T fields -e frame.protocols " +
                                    "2>/dev/null | sort | uniq -c | sed 's/^ *//'"),
                      std::to_string(ipv4First) + " raw:ip:udp\n1 raw:ipv6:udp:data\n");
        }
    }
    const std::string pipe = (dir.path() / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string pipedBytes;
    std::thread reader([&] {
        std::ifstream in(pipe, std::ios::binary);
        pipedBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    PcapStreamWriter writer;
    ASSERT_EQ(writer.create(pipe), 0);
    ASSERT_EQ(writer.append(ipv4, 40, stamp), 0);
    ASSERT_EQ(writer.append(ipv6, static_cast<std::uint32_t>(ipv6.size()), stamp), 0);
    ASSERT_EQ(writer.close(), 0);
    reader.join();
    const std::string piped = (dir.path() / "piped.pcap").string();
    writeFileContents(piped, pipedBytes);
    EXPECT_EQ(readAt<std::uint32_t>(fileContents(piped), 20), PcapLinkTypeRaw);
    EXPECT_EQ(listed(piped), expected);
}

}  // namespace
}  // namespace qhs
