#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/PacketFilter.h"
#include "capture/PacketIntake.h"
#include "platform/CaptureFileReader.h"
#include "support/CommandOutput.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

using namespace std::string_literals;

constexpr std::int64_t FirstStamp = 1'700'000'000'123'456'789;

template <typename Value>
void put(std::string& bytes, Value value, bool swap = false) {
    char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    if (swap) {
        std::reverse(raw, raw + sizeof value);
    }
    bytes.append(raw, sizeof value);
}

struct Record {
    std::string frame;
    std::uint32_t capturedLength = 0;  // 0: the frame's length
};

// A classic pcap file with nanosecond stamps, one second apart from FirstStamp.
std::string pcapFile(std::uint32_t linkType, const std::vector<Record>& records,
                     std::uint32_t snapLength = 65535, bool swap = false) {
    std::string bytes;
    put<std::uint32_t>(bytes, 0xA1B23C4D, swap);
    put<std::uint16_t>(bytes, 2, swap);
    put<std::uint16_t>(bytes, 4, swap);
    put<std::uint32_t>(bytes, 0, swap);
    put<std::uint32_t>(bytes, 0, swap);
    put<std::uint32_t>(bytes, snapLength, swap);
    put<std::uint32_t>(bytes, linkType, swap);
    std::int64_t stamp = FirstStamp;
    for (const Record& record : records) {
        const auto length = static_cast<std::uint32_t>(record.frame.size());
        put<std::uint32_t>(bytes, static_cast<std::uint32_t>(stamp / 1'000'000'000), swap);
        put<std::uint32_t>(bytes, static_cast<std::uint32_t>(stamp % 1'000'000'000), swap);
        put<std::uint32_t>(bytes, record.capturedLength != 0 ? record.capturedLength : length,
                           swap);
        put<std::uint32_t>(bytes, length, swap);
        bytes += record.frame;
        stamp += 1'000'000'000;
    }
    return bytes;
}

// A pcapng block of the writer's byte order: its body padded to four bytes between two
// copies of its length.
std::string pcapngBlock(std::uint32_t type, std::string body) {
    body.resize((body.size() + 3) / 4 * 4, '\0');
    const auto length = static_cast<std::uint32_t>(body.size() + 12);
    std::string bytes;
    put(bytes, type);
    put(bytes, length);
    return bytes + body + std::string(reinterpret_cast<const char*>(&length), 4);
}

std::string enhancedPacket(std::uint32_t interface, std::uint64_t stamp, const std::string& frame,
                           std::size_t originalLength) {
    std::string body;
    put<std::uint32_t>(body, interface);
    put<std::uint32_t>(body, static_cast<std::uint32_t>(stamp >> 32));
    put<std::uint32_t>(body, static_cast<std::uint32_t>(stamp));
    put<std::uint32_t>(body, static_cast<std::uint32_t>(frame.size()));
    put<std::uint32_t>(body, static_cast<std::uint32_t>(originalLength));
    return pcapngBlock(6, body + frame);
}

// Each frame as tshark prints its captured and original length, time stamp and link layer.
std::string framesText(CaptureFrames& frames) {
    std::string listed;
    CaptureFrame frame;
    while (frames.next(frame) == FrameRead::Frame) {
        char line[128];
        std::snprintf(line, sizeof line, "%zu %zu %lld.%09lld %s\n", frame.length,
                      frame.originalLength,
                      static_cast<long long>(frame.arrivalNanoseconds / 1'000'000'000),
                      static_cast<long long>(frame.arrivalNanoseconds % 1'000'000'000),
                      frame.linkType == 1    ? "eth"
                      : frame.linkType == 12 ? "raw"
                                             : "other");
        listed += line;
    }
    return listed;
}

std::string tsharkFramesText(const std::filesystem::path& path) {
    return commandOutput("tshark -r '" + path.string() +
                         "' -T fields -E separator=' ' -e frame.cap_len -e frame.len "
                         "-e frame.time_epoch -e frame.protocols 2>/dev/null | sed 's/:.*//'");
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class CaptureFileRead : public testing::Test {
  protected:
    // Reads the file into the store as the window does, after checking it whole.
    CaptureFileLoad load(const std::filesystem::path& path) {
        {
            CaptureFileReader checked(path.string());
            EXPECT_TRUE(checked.isOpen()) << checked.fault();
            EXPECT_EQ(checked.checkWhole({}), std::nullopt);
        }
        CaptureFileReader reader(path.string());
        published.replace(settings);
        PacketCaptureContext context{state, table, filter, published, {}};
        return loadCaptureFrames(reader, context, {});
    }

    // What is wrong with the file, as the window finds it before it changes anything.
    std::string faultOf(const std::string& contents) {
        const auto path = dir.path() / "bad.pcap";
        writeFileContents(path, contents);
        CaptureFileReader reader(path.string());
        if (!reader.isOpen()) {
            return reader.fault();
        }
        return reader.checkWhole({}).value_or("");
    }

    std::string storedBytes(std::int32_t slot) {
        const PacketTable::Access held = table.lock();
        const PacketStore& store = held.store();
        return std::string(reinterpret_cast<const char*>(store.packet(slot)), store.length(slot));
    }

    TempDir dir;
    SettingsRecord settings = defaultSettings();
    PublishedSettings published{settings};
    PacketSnifferState state;
    PacketTable table;
    PacketFilter filter;
};

// Each link type gives its datagrams with the link header left out; frames of other protocols
// are skipped; pcapng holds the same.
TEST_F(CaptureFileRead, EveryLinkTypeAndPcapngGiveTheDatagramsWithTheirOwnTimeStamps) {
    const std::string udp = text(makeDatagram(17, 60, 5000, 53));
    const std::string tcp = text(makeDatagram(6, 40, 80, 3000));
    const std::string macs(12, '\xAA');
    // What follows an IPv6 link header without being IPv6 (version 0).
    const std::string notIp = std::string(48, '\0');
    struct Link {
        std::uint32_t type;
        std::string header;       // before an IPv4 datagram
        std::string otherHeader;  // IPv6's header
    };
    const std::vector<Link> links = {
        {1, macs + "\x08\x00"s, macs + "\x86\xDD"s},
        {1, macs + "\x81\x00\x00\x05\x08\x00"s, macs + "\x81\x00\x00\x05\x86\xDD"s},
        {101, "", ""},
        {228, "", ""},
        {0, "\x02\0\0\0"s, "\x18\0\0\0"s},
        {108, "\0\0\0\x02"s, "\0\0\0\x18"s},
        {113, std::string(14, '\0') + "\x08\x00"s, std::string(14, '\0') + "\x86\xDD"s},
        {276, "\x08\x00"s + std::string(18, '\0'), "\x86\xDD"s + std::string(18, '\0')},
        // Linux puts the tags back after the cooked protocol field, as in Ethernet.
        {113, std::string(14, '\0') + "\x88\xA8\x00\x07\x81\x00\x00\x05\x08\x00"s,
         std::string(14, '\0') + "\x81\x00\x00\x05\x86\xDD"s},
    };
    for (std::size_t index = 0; index < links.size(); ++index) {
        const Link& link = links[index];
        SCOPED_TRACE("link type " + std::to_string(link.type));
        const std::string other = link.otherHeader + notIp;
        // Ethernet pads the short acknowledgement to 46 bytes of payload.
        const std::string padded = link.type == 1 ? tcp + std::string(6, '\0') : tcp;
        const auto path = dir.path() / ("link" + std::to_string(index) + ".pcap");
        writeFileContents(
            path, pcapFile(link.type, {{link.header + udp}, {other}, {link.header + padded}}, 65535,
                           index % 2 == 1));
        table.lock().store().freeAllSlots();
        table.lock().list().clear();
        const CaptureFileLoad loaded = load(path);
        EXPECT_EQ(loaded.read, 3u);
        EXPECT_EQ(loaded.skipped, 1u);
        ASSERT_EQ(table.storedCount(), 2);
        EXPECT_EQ(storedBytes(0), udp);
        EXPECT_EQ(storedBytes(1), tcp);
        EXPECT_EQ(table.lock().store().arrivalNanoseconds(0), FirstStamp);
        EXPECT_EQ(table.lock().store().arrivalNanoseconds(1), FirstStamp + 2'000'000'000);
    }

    // The same traffic as pcapng, converted by Wireshark's own tool.
    const auto classic = dir.path() / "link0.pcap";
    const auto next = dir.path() / "link0.pcapng";
    ASSERT_EQ(
        commandOutput("editcap -F pcapng '" + classic.string() + "' '" + next.string() + "' 2>&1"),
        "");
    EXPECT_EQ(fileContents(next).substr(0, 4), "\x0A\x0D\x0D\x0A"s);
    table.lock().store().freeAllSlots();
    table.lock().list().clear();
    const CaptureFileLoad loaded = load(next);
    EXPECT_EQ(loaded.skipped, 1u);
    ASSERT_EQ(table.storedCount(), 2);
    EXPECT_EQ(storedBytes(0), udp);
    EXPECT_EQ(table.lock().store().arrivalNanoseconds(1), FirstStamp + 2'000'000'000);
    EXPECT_EQ(captureFileStatusText(loaded), "Read 3 packets, skipped 1 that are not IP");
}

TEST_F(CaptureFileRead, DamagedTruncatedAndForeignFilesAreRefusedWithWhatIsWrong) {
    const std::string udp = text(makeDatagram(17, 60, 5000, 53));
    const std::string sound = pcapFile(101, {{udp}, {udp}});
    EXPECT_EQ(faultOf(sound), "");
    EXPECT_EQ(faultOf("GIF89a, a picture and not a capture at all"),
              "It is neither a pcap nor a pcapng capture file.");
    EXPECT_EQ(faultOf(sound.substr(0, 10)), "The file ends inside its header.");
    EXPECT_EQ(faultOf(sound.substr(0, 24 + 16 + 60 + 7)),
              "The file ends inside the header of packet 2.");
    EXPECT_EQ(faultOf(sound.substr(0, sound.size() - 1)), "The file ends inside packet 2.");
    EXPECT_EQ(faultOf(pcapFile(101, {{udp}}, 0)), "The file's snap length is 0.");
    EXPECT_EQ(faultOf(pcapFile(101, {{udp}}, 0x7FFFFFFF, true)),
              "The file's snap length, 2147483647 bytes, is larger than any capture takes "
              "(262144 bytes).");
    EXPECT_EQ(faultOf(pcapFile(101, {{udp}, {udp}}, 59)),
              "Packet 1 holds 60 bytes, more than the file's snap length of 59 bytes.");
    // A record whose length claims more than the file holds.
    EXPECT_EQ(faultOf(pcapFile(101, {{udp}, {udp, 4000}}, 65535)),
              "The file ends inside packet 2.");
    EXPECT_FALSE(faultOf("").empty());

    // A pcapng file cut inside a block, as libpcap finds it.
    const auto classic = dir.path() / "sound.pcap";
    const auto next = dir.path() / "sound.pcapng";
    writeFileContents(classic, sound);
    ASSERT_EQ(
        commandOutput("editcap -F pcapng '" + classic.string() + "' '" + next.string() + "' 2>&1"),
        "");
    const std::string pcapng = fileContents(next);
    EXPECT_EQ(faultOf(pcapng), "");
    EXPECT_FALSE(faultOf(pcapng.substr(0, pcapng.size() - 9)).empty());

    // What is no regular file is never read: a folder, a FIFO that would never end.
    EXPECT_EQ(CaptureFileReader(dir.path().string()).fault(), "It is not a regular file.");
    const auto fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CaptureFileReader(fifo.string()).fault(), "It is not a regular file.");
    EXPECT_EQ(CaptureFileReader((dir.path() / "missing.pcap").string()).fault(),
              "No such file or directory.");
}

// The "modified" pcap format (24-byte record headers, microseconds) in either byte order is
// checked as the others: a record past the snap length is refused, not cut; a sound one reads
// whole, as tshark reads it. Seconds are unsigned: 2046 stays 2046.
TEST_F(CaptureFileRead, ModifiedPcapAndSecondsPast2038ReadWholeAsTsharkReadsThem) {
    const std::string udp = text(makeDatagram(17, 100, 5000, 53));
    const auto modified = [&](std::uint32_t snapLength, bool swap) {
        std::string bytes;
        put<std::uint32_t>(bytes, 0xA1B2CD34, swap);
        put<std::uint16_t>(bytes, 2, swap);
        put<std::uint16_t>(bytes, 4, swap);
        for (const std::uint32_t field : {0u, 0u, snapLength, 101u}) {
            put(bytes, field, swap);
        }
        put<std::uint32_t>(bytes, 0x90000000, swap);
        put<std::uint32_t>(bytes, 250'000, swap);
        put<std::uint32_t>(bytes, 100, swap);
        put<std::uint32_t>(bytes, 100, swap);
        put<std::uint32_t>(bytes, 3, swap);  // interface index, protocol, packet type, padding
        put<std::uint32_t>(bytes, 0x0800, swap);
        return bytes + udp;
    };
    for (const bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "as written");
        EXPECT_EQ(faultOf(modified(64, swap)),
                  "Packet 1 holds 100 bytes, more than the file's snap length of 64 bytes.");
        const auto path = dir.path() / "modified.pcap";
        writeFileContents(path, modified(65535, swap));
        table.lock().store().freeAllSlots();
        table.lock().list().clear();
        EXPECT_EQ(load(path).stored, 1u);
        EXPECT_EQ(storedBytes(0), udp);
        EXPECT_EQ(table.lock().store().arrivalNanoseconds(0),
                  0x90000000LL * 1'000'000'000 + 250'000'000);
        EXPECT_EQ(tsharkFramesText(path), "100 100 2415919104.250000000 raw\n");
    }
}

// dumpcap writes one pcapng file for interfaces of different link types (an Ethernet device
// and a tunnel); each frame is read with its own interface's type, its original length where
// the snap length cut it, and its interface's time stamp resolution.
TEST_F(CaptureFileRead, PcapngInterfacesOfDifferentLinkTypesReadAsTsharkReadsThem) {
    const std::string udp = text(makeDatagram(17, 60, 5000, 53));
    const std::string tcp = text(makeDatagram(6, 40, 80, 3000));
    const std::string ethernet = std::string(12, '\xAA') + "\x08\x00"s;
    std::string section;
    put<std::uint32_t>(section, 0x1A2B3C4D);
    put<std::uint32_t>(section, 1);  // version 1.0
    put<std::int64_t>(section, -1);
    std::string ethernetInterface;
    put<std::uint32_t>(ethernetInterface, 1);
    put<std::uint32_t>(ethernetInterface, 0);
    // Raw IP with a snap length of 48 bytes and nanosecond time stamps.
    std::string tunnelInterface;
    put<std::uint32_t>(tunnelInterface, 101);
    put<std::uint32_t>(tunnelInterface, 48);
    tunnelInterface += "\x09\x00\x01\x00\x09\x00\x00\x00"s + std::string(4, '\0');
    const auto microseconds = static_cast<std::uint64_t>(FirstStamp / 1000);
    const auto nanoseconds = static_cast<std::uint64_t>(FirstStamp + 1'000'000'000);
    const auto path = dir.path() / "mixed.pcapng";
    writeFileContents(
        path, pcapngBlock(0x0A0D0D0A, section) + pcapngBlock(1, ethernetInterface) +
                  pcapngBlock(1, tunnelInterface) +
                  enhancedPacket(0, microseconds, ethernet + udp, 74) +
                  enhancedPacket(1, nanoseconds, udp.substr(0, 48), 60) +
                  enhancedPacket(0, microseconds, std::string(12, '\xAA') + "\x86\xDD"s, 14) +
                  enhancedPacket(1, nanoseconds, tcp, 40));

    CaptureFileReader reader(path.string());
    ASSERT_TRUE(reader.isOpen()) << reader.fault();
    const std::string tshark = tsharkFramesText(path);
    EXPECT_EQ(tshark,
              "74 74 1700000000.123456000 eth\n48 60 1700000001.123456789 raw\n"
              "14 14 1700000000.123456000 eth\n40 40 1700000001.123456789 raw\n");
    EXPECT_EQ(framesText(reader), tshark);

    const CaptureFileLoad loaded = load(path);
    EXPECT_EQ(loaded.read, 4u);
    EXPECT_EQ(loaded.skipped, 1u);
    ASSERT_EQ(table.storedCount(), 3);
    EXPECT_EQ(storedBytes(0), udp);
    EXPECT_EQ(storedBytes(1), udp.substr(0, 48));
    EXPECT_EQ(storedBytes(2), tcp);
    EXPECT_EQ(table.lock().store().arrivalNanoseconds(1), FirstStamp + 1'000'000'000);

    // A classic pcap file cut by its snap length keeps each record's original length.
    const auto whole = dir.path() / "whole.pcap";
    const auto cut = dir.path() / "cut.pcap";
    writeFileContents(whole, pcapFile(1, {{ethernet + udp}, {ethernet + tcp}}));
    ASSERT_EQ(commandOutput("editcap -s 50 '" + whole.string() + "' '" + cut.string() + "' 2>&1"),
              "");
    CaptureFileReader cutReader(cut.string());
    EXPECT_EQ(framesText(cutReader), tsharkFramesText(cut));
    EXPECT_EQ(tsharkFramesText(cut).substr(0, 6), "50 74 ");
}

// "-" reads standard input, a pipe that cannot seek, pcap and pcapng alike.
TEST_F(CaptureFileRead, StandardInputGivesTheFramesOfTheFile) {
    const std::string udp = text(makeDatagram(17, 60, 5000, 53));
    const auto classic = dir.path() / "piped.pcap";
    const auto next = dir.path() / "piped.pcapng";
    writeFileContents(classic, pcapFile(101, {{udp}, {udp.substr(0, 30)}}));
    ASSERT_EQ(
        commandOutput("editcap -F pcapng '" + classic.string() + "' '" + next.string() + "' 2>&1"),
        "");
    const int standardInput = ::dup(STDIN_FILENO);
    for (const auto& path : {classic, next}) {
        SCOPED_TRACE(path.filename().string());
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const std::string contents = fileContents(path);
        ASSERT_EQ(::write(pipeEnds[1], contents.data(), contents.size()),
                  static_cast<ssize_t>(contents.size()));
        ::close(pipeEnds[1]);
        ::dup2(pipeEnds[0], STDIN_FILENO);
        ::close(pipeEnds[0]);
        CaptureFileReader piped("-");
        ASSERT_TRUE(piped.isOpen()) << piped.fault();
        EXPECT_EQ(piped.size(), 0u);
        CaptureFileReader file(path.string());
        CaptureFrame fromPipe;
        CaptureFrame fromFile;
        int frames = 0;
        for (;; ++frames) {
            const FrameRead read = piped.next(fromPipe);
            ASSERT_EQ(read, file.next(fromFile)) << piped.fault();
            if (read != FrameRead::Frame) {
                break;
            }
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(fromPipe.bytes), fromPipe.length),
                      std::string(reinterpret_cast<const char*>(fromFile.bytes), fromFile.length));
            EXPECT_EQ(fromPipe.originalLength, fromFile.originalLength);
            EXPECT_EQ(fromPipe.arrivalNanoseconds, fromFile.arrivalNanoseconds);
            EXPECT_EQ(fromPipe.linkType, fromFile.linkType);
        }
        EXPECT_EQ(frames, 2);
    }
    ::dup2(standardInput, STDIN_FILENO);
    ::close(standardInput);
}

}  // namespace
}  // namespace qhs
