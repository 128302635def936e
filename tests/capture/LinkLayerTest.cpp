#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/LinkLayer.h"

namespace qhs {
namespace {

// A 28-byte UDP datagram from 10.0.0.1 to 10.0.0.2.
std::vector<std::uint8_t> udpDatagram() {
    std::vector<std::uint8_t> datagram(28, 0);
    datagram[0] = 0x45;
    datagram[3] = 28;
    datagram[9] = 17;
    return datagram;
}

std::vector<std::uint8_t> framed(std::vector<std::uint8_t> header,
                                 const std::vector<std::uint8_t>& datagram) {
    header.insert(header.end(), datagram.begin(), datagram.end());
    return header;
}

void expectDatagramAt(int linkType, const std::vector<std::uint8_t>& frame, std::size_t offset,
                      std::size_t length) {
    const std::optional<IpInFrame> part = ipInFrame(linkType, frame.data(), frame.size());
    ASSERT_TRUE(part.has_value()) << "link type " << linkType;
    EXPECT_EQ(part->offset, offset) << "link type " << linkType;
    EXPECT_EQ(part->length, length) << "link type " << linkType;
}

void expectNoDatagram(int linkType, const std::vector<std::uint8_t>& frame) {
    EXPECT_FALSE(ipInFrame(linkType, frame.data(), frame.size()).has_value())
        << "link type " << linkType << ", " << frame.size() << " bytes";
}

TEST(LinkLayer, EveryLinkTypeGivesTheDatagramAfterItsHeader) {
    const std::vector<std::uint8_t> ip = udpDatagram();
    const std::vector<std::uint8_t> macs(12, 0xAA);
    std::vector<std::uint8_t> ethernet = macs;
    ethernet.insert(ethernet.end(), {0x08, 0x00});
    expectDatagramAt(1, framed(ethernet, ip), 14, 28);
    // One 802.1Q tag, then an 802.1ad tag outside an 802.1Q one.
    std::vector<std::uint8_t> tagged = macs;
    tagged.insert(tagged.end(), {0x81, 0x00, 0x00, 0x05, 0x08, 0x00});
    expectDatagramAt(1, framed(tagged, ip), 18, 28);
    std::vector<std::uint8_t> doubleTagged = macs;
    doubleTagged.insert(doubleTagged.end(),
                        {0x88, 0xA8, 0x00, 0x07, 0x81, 0x00, 0x00, 0x05, 0x08, 0x00});
    expectDatagramAt(1, framed(doubleTagged, ip), 22, 28);
    // Linux cooked: the protocol closes the 16-byte header; version 2 opens its 20 bytes.
    std::vector<std::uint8_t> cooked(16, 0);
    cooked[14] = 0x08;
    expectDatagramAt(113, framed(cooked, ip), 16, 28);
    std::vector<std::uint8_t> cooked2(20, 0);
    cooked2[0] = 0x08;
    expectDatagramAt(276, framed(cooked2, ip), 20, 28);
    // Null carries the family in the writer's byte order, Loop in network order.
    expectDatagramAt(0, framed({2, 0, 0, 0}, ip), 4, 28);
    expectDatagramAt(0, framed({0, 0, 0, 2}, ip), 4, 28);
    expectDatagramAt(108, framed({0, 0, 0, 2}, ip), 4, 28);
    expectDatagramAt(12, ip, 0, 28);
    expectDatagramAt(228, ip, 0, 28);
    // Ethernet pads a short frame; the total length ends the datagram.
    std::vector<std::uint8_t> padded = framed(ethernet, ip);
    padded.resize(60, 0);
    expectDatagramAt(1, padded, 14, 28);
}

TEST(LinkLayer, FramesWithoutIpAreSkippedAndShortOnesAreNeverReadPast) {
    const std::vector<std::uint8_t> ip = udpDatagram();
    std::vector<std::uint8_t> arp(12, 0xAA);
    arp.insert(arp.end(), {0x08, 0x06});
    expectNoDatagram(1, framed(arp, ip));
    // IPv6 where the link header says so, and only there.
    std::vector<std::uint8_t> ipv6 = ip;
    ipv6[0] = 0x60;
    std::vector<std::uint8_t> ethernetIpv6(12, 0xAA);
    ethernetIpv6.insert(ethernetIpv6.end(), {0x86, 0xDD});
    expectDatagramAt(1, framed(ethernetIpv6, ipv6), 14, 28);
    expectNoDatagram(1, framed(ethernetIpv6, ip));
    expectDatagramAt(12, ipv6, 0, 28);
    expectDatagramAt(229, ipv6, 0, 28);
    expectNoDatagram(228, ipv6);
    expectNoDatagram(229, ip);
    for (const std::uint8_t family : {10, 24, 28, 30}) {  // AF_INET6 on Linux, BSD, macOS
        expectDatagramAt(0, framed({family, 0, 0, 0}, ipv6), 4, 28);
        expectDatagramAt(108, framed({0, 0, 0, family}, ipv6), 4, 28);
        expectNoDatagram(0, framed({family, 0, 0, 0}, ip));
    }
    expectNoDatagram(147, ip);                       // a link type of private use
    expectNoDatagram(-1, ip);
    // Frames that end inside or right after their link header, tags included.
    std::vector<std::uint8_t> tagsOnly(12, 0xAA);
    for (int tag = 0; tag < 3; ++tag) {
        tagsOnly.insert(tagsOnly.end(), {0x81, 0x00, 0x00, 0x01});
    }
    for (const int linkType : {0, 1, 12, 108, 113, 228, 229, 276}) {
        for (std::size_t length = 0; length <= tagsOnly.size(); ++length) {
            const std::vector<std::uint8_t> cut(tagsOnly.begin(),
                                                tagsOnly.begin() + static_cast<long>(length));
            expectNoDatagram(linkType, cut);
        }
    }
    // An IPv4 protocol with too little after it is still the datagram as it arrived.
    std::vector<std::uint8_t> stub(12, 0xAA);
    stub.insert(stub.end(), {0x08, 0x00, 0x45, 0x00});
    expectDatagramAt(1, stub, 14, 2);
}

TEST(IpDatagramLength, LinkPaddingIsCutAtTheTotalLength) {
    std::vector<std::uint8_t> frame(46, 0);
    frame[0] = 0x45;
    frame[3] = 40;  // a 40-byte acknowledgement padded to the Ethernet minimum
    EXPECT_EQ(ipDatagramLength(frame.data(), frame.size()), 40u);
    // A total length that is too small, too large or zero leaves the frame as received.
    for (const std::uint8_t bogus : {0, 19, 47, 255}) {
        frame[3] = bogus;
        EXPECT_EQ(ipDatagramLength(frame.data(), frame.size()), 46u) << int(bogus);
    }
    frame[0] = 0x60;  // IPv6: the payload length, after a 40-byte header
    frame[3] = 40;
    EXPECT_EQ(ipDatagramLength(frame.data(), frame.size()), 46u);
    frame[5] = 4;
    EXPECT_EQ(ipDatagramLength(frame.data(), frame.size()), 44u);
    frame[5] = 0;  // a jumbogram's, or none
    EXPECT_EQ(ipDatagramLength(frame.data(), frame.size()), 46u);
    EXPECT_EQ(ipDatagramLength(frame.data(), 10), 10u);
}

// A pcapng file may stamp a packet in any of 2^64 ticks; past what nanoseconds in 64 bits
// hold, the stamp stays at the end instead of wrapping.
TEST(CaptureFileStamp, StampsBeyondSixtyFourBitsOfNanosecondsAreHeldAtTheEnd) {
    EXPECT_EQ(stampNanoseconds(1'700'000'000, 123'456'789), 1'700'000'000'123'456'789);
    EXPECT_EQ(stampNanoseconds(13'517'445'422, 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(stampNanoseconds(9'223'372'036, 999'999'999),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(stampNanoseconds(-13'517'445'422, 0), std::numeric_limits<std::int64_t>::min());
}

}  // namespace
}  // namespace qhs
