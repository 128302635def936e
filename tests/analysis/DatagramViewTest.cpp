#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/DatagramView.h"
#include "analysis/SearchText.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

using test::address;
using test::Block;
using test::TestDatagram;

std::string payloadText(const DatagramView& view) {
    const auto payload = view.payload();
    return std::string(payload.begin(), payload.end());
}

TEST(DatagramView, ReadsHeaderFieldsBigEndianAtFixedOffsets) {
    std::vector<std::uint8_t> bytes = TestDatagram{}.withPayload("data").bytes();
    const std::uint8_t header[] = {0x45, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x00,
                                   0x80, 0x06, 0xAB, 0xCD,                          // IP
                                   192,  168,  1,    20,   10,   0,    0,    255,   // addresses
                                   0x01, 0xBB, 0xC3, 0x50,                          // ports
                                   0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03, 0x04,  // seq, ack
                                   0x50, 0x18, 0xFA, 0xF0};  // len, flags, win
    std::copy(std::begin(header), std::end(header), bytes.begin());
    const Block block(bytes);
    const DatagramView view(block.data(), block.length());

    EXPECT_EQ(view.totalLength(), 300);
    EXPECT_EQ(view.ttl(), 128);
    EXPECT_EQ(view.protocol(), 6);
    EXPECT_EQ(view.headerChecksum(), 0xABCD);
    EXPECT_EQ(view.sourceAddressText(), "192.168.1.20");
    EXPECT_EQ(view.destinationAddressText(), "10.0.0.255");
    EXPECT_EQ(view.sourceAddress(), address(192, 168, 1, 20));
    EXPECT_EQ(view.destinationAddressBytes(), (std::array<std::uint8_t, 4>{10, 0, 0, 255}));
    EXPECT_EQ(view.sourcePort(), 443);
    EXPECT_EQ(view.destinationPort(), 50000);
    EXPECT_EQ(view.tcpSequence(), 0x89ABCDEFu);
    EXPECT_EQ(view.tcpAcknowledgement(), 0x01020304u);
    EXPECT_EQ(view.tcpHeaderLength(), 20u);
    EXPECT_EQ(view.tcpWindow(), 0xFAF0);
    EXPECT_EQ(payloadText(view), "data");
}

TEST(DatagramView, FlagsIgnoreTheTwoTopBits) {
    for (const std::uint8_t bits : {std::uint8_t{0x12}, std::uint8_t{0x52}, std::uint8_t{0xD2}}) {
        std::vector<std::uint8_t> bytes = TestDatagram{}.bytes();
        bytes[33] = bits;
        const TcpFlags flags = DatagramView(bytes.data(), 40).tcpFlags();
        EXPECT_TRUE(flags.synchronize && flags.acknowledgement) << int{bits};
        EXPECT_FALSE(flags.urgent || flags.push || flags.reset || flags.finish) << int{bits};
    }
    std::vector<std::uint8_t> bytes = TestDatagram{}.bytes();
    bytes[33] = 0x3F;
    const TcpFlags all = DatagramView(bytes.data(), 40).tcpFlags();
    EXPECT_TRUE(all.urgent && all.acknowledgement && all.push && all.reset && all.synchronize &&
                all.finish);
}

TEST(DatagramView, PayloadStartFollowsTheProtocol) {
    const std::string payload(100, 'p');
    for (const std::uint32_t headerLength : {20u, 32u, 60u}) {
        TestDatagram tcp;
        tcp.tcpHeaderLength = headerLength;
        const Block block(tcp.withPayload(payload).bytes());
        const DatagramView view(block.data(), block.length());
        EXPECT_EQ(view.payloadOffset(), 20 + headerLength);
        EXPECT_EQ(payloadText(view), payload);
    }
    for (const std::uint8_t protocol : {std::uint8_t{17}, std::uint8_t{1}}) {
        TestDatagram datagram;
        datagram.protocol = protocol;
        const Block block(datagram.withPayload(payload).bytes());
        EXPECT_EQ(DatagramView(block.data(), block.length()).payloadOffset(), 28u);
    }
    for (const std::uint8_t protocol : {std::uint8_t{2}, std::uint8_t{0}, std::uint8_t{200}}) {
        TestDatagram other;
        other.protocol = protocol;
        std::vector<std::uint8_t> bytes = other.withPayload("abcdefgh").bytes();
        bytes[20] = 0x12;  // what would be a port number
        const Block block(bytes);
        const DatagramView view(block.data(), block.length());
        EXPECT_EQ(view.payloadOffset(), 20u);
        EXPECT_EQ(view.protocol(), protocol);
        EXPECT_EQ(view.sourcePort(), 0);
        EXPECT_EQ(view.destinationPort(), 0);
    }
}

TEST(DatagramView, PayloadIsEmptyWhenItWouldStartAtOrPastTheEnd) {
    TestDatagram udp;
    udp.protocol = 17;
    const Block exactHeader(udp.bytes());
    EXPECT_EQ(exactHeader.length(), 28u);
    EXPECT_TRUE(DatagramView(exactHeader.data(), exactHeader.length()).payload().empty());

    const Block twoBytes(udp.withPayload("hi").bytes());
    EXPECT_EQ(payloadText(DatagramView(twoBytes.data(), twoBytes.length())), "hi");

    // A TCP data offset of 60 bytes in a 50-byte datagram.
    std::vector<std::uint8_t> bytes = TestDatagram{}.withPayload("0123456789").bytes();
    bytes[32] = 0xF0;
    const Block truncated(bytes);
    const DatagramView view(truncated.data(), truncated.length());
    EXPECT_EQ(view.payloadOffset(), 80u);
    EXPECT_TRUE(view.payload().empty());
    std::string buffer = "stale";
    EXPECT_TRUE(view.searchText(buffer, false).empty());
}

TEST(DatagramView, UsabilityTestsCountCapturedBytes) {
    const std::vector<std::uint8_t> bytes(60, 0);
    EXPECT_FALSE(DatagramView(nullptr, 100).hasData());
    EXPECT_FALSE(DatagramView(nullptr, 100).isDecodable());
    EXPECT_FALSE(DatagramView(bytes.data(), 0).hasData());
    EXPECT_FALSE(DatagramView(bytes.data(), 19).isDecodable());
    EXPECT_TRUE(DatagramView(bytes.data(), 20).isDecodable());
    EXPECT_FALSE(DatagramView(bytes.data(), 39).isTcpNavigable());
    EXPECT_TRUE(DatagramView(bytes.data(), 40).isTcpNavigable());
}

TEST(DatagramView, FieldsBeyondTheCapturedLengthReadAsZero) {
    // A 22-byte UDP datagram: the destination port would lie in the spare bytes.
    TestDatagram udp;
    udp.protocol = 17;
    udp.sourcePort = 53;
    std::vector<std::uint8_t> bytes = udp.bytes();
    bytes.resize(22);
    const Block block(bytes, 0xEE);
    const DatagramView view(block.data(), block.length());
    EXPECT_EQ(view.sourcePort(), 53);
    EXPECT_EQ(view.destinationPort(), 0);
    EXPECT_EQ(view.tcpSequence(), 0u);
    EXPECT_EQ(view.tcpWindow(), 0);

    const Block tiny(std::vector<std::uint8_t>{0x45, 0x00, 0x05}, 0xEE);
    const DatagramView tinyView(tiny.data(), tiny.length());
    EXPECT_EQ(tinyView.totalLength(), 0);  // bytes 2 and 3, only one of them captured
    EXPECT_EQ(tinyView.protocol(), 0);
    EXPECT_EQ(tinyView.sourceAddressText(), "0.0.0.0");
}

TEST(DatagramView, AddressTextHasNoPadding) {
    EXPECT_EQ(DatagramView::addressText(address(10, 0, 0, 1)), "10.0.0.1");
    EXPECT_EQ(DatagramView::addressText(address(255, 255, 255, 255)), "255.255.255.255");
    EXPECT_EQ(DatagramView::addressText(address(0, 0, 0, 0)), "0.0.0.0");
}

// Plain byte-by-byte rule the vectorised builder must agree with.
char expectedSearchByte(std::uint8_t byte, bool foldCase) {
    if (byte == 0) {
        return ' ';
    }
    return static_cast<char>(foldCase && byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
}

TEST(SearchText, ZeroBytesBecomeSpacesAndOnlyAtoZFold) {
    const std::vector<std::uint8_t> payload = {'G', 0, 'e', 'T', '@', '[', 0xC9, 'Z', 'a', 0};
    std::string buffer;
    EXPECT_EQ(makeSearchText(payload, false, buffer), std::string_view("G eT@[\xC9Za "));
    EXPECT_EQ(makeSearchText(payload, true, buffer), std::string_view("g et@[\xC9za "));
    EXPECT_EQ(foldToLowerCase("GeT /Index.HTML \xC9"), "get /index.html \xC9");
}

TEST(SearchText, EveryLengthAndByteValueAgreesWithTheByteRule) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    std::string buffer;
    for (const bool foldCase : {false, true}) {
        const std::string_view text = makeSearchText(all, foldCase, buffer);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(text[i], expectedSearchByte(all[i], foldCase)) << i;
        }
        for (std::size_t length = 0; length <= 70; ++length) {
            std::vector<std::uint8_t> payload(length);
            for (auto& byte : payload) {
                byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : 'A' + random() % 40);
            }
            const std::string_view built = makeSearchText(payload, foldCase, buffer);
            ASSERT_EQ(built.size(), length);
            for (std::size_t i = 0; i < length; ++i) {
                ASSERT_EQ(built[i], expectedSearchByte(payload[i], foldCase)) << length;
            }
        }
    }
}

TEST(DatagramView, SearchTextCoversThePayloadUpToTheCapturedLengthOnly) {
    std::vector<std::uint8_t> bytes = TestDatagram{}.withPayload("ab").bytes();
    bytes[24] = 'H';  // in the TCP header
    const Block block(bytes, 'X');
    std::string buffer;
    EXPECT_EQ(DatagramView(block.data(), block.length()).searchText(buffer, false), "ab");
}

// Random bytes of every short length through every accessor; the blocks are exactly
// length + 44 bytes, so the sanitizer build reports any read outside.
TEST(DatagramView, RandomShortDatagramsStayInsideTheirBlock) {
    std::mt19937 random(12345);
    std::string buffer;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> bytes(random() % 61);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        if (bytes.size() > 9 && random() % 2 == 0) {
            bytes[9] = std::array<std::uint8_t, 4>{1, 6, 17, 2}[random() % 4];
        }
        const Block block(bytes, static_cast<std::uint8_t>(random()));
        const DatagramView view(block.data(), block.length());
        std::uint64_t sum =
            view.totalLength() + view.ttl() + view.protocol() + view.headerChecksum() +
            view.sourceAddress() + view.destinationAddress() + view.sourcePort() +
            view.destinationPort() + view.tcpSequence() + view.tcpAcknowledgement() +
            view.tcpHeaderLength() + view.tcpWindow() + view.isDecodable() + view.isTcpNavigable();
        const TcpFlags flags = view.tcpFlags();
        sum += flags.urgent + flags.finish;
        sum += view.sourceAddressText().size() + view.destinationAddressText().size();
        const auto payload = view.payload();
        ASSERT_LE(view.payloadOffset() + payload.size(),
                  std::max<std::size_t>(view.payloadOffset(), block.length()));
        const std::string_view text = view.searchText(buffer, round % 2 == 0);
        ASSERT_EQ(text.size(), payload.size());
        volatile std::uint64_t sink = sum;
        (void)sink;
    }
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// IPv6 has its upper layer after the extension headers: ports, TCP fields and the payload are
// read there; a later fragment has no ports; the IPv4 reading of every other version stays.
TEST(DatagramView, Ipv6ReadsTheUpperLayerAfterItsExtensionHeaders) {
    TestDatagram tcp;
    tcp.sourcePort = 443;
    tcp.destinationPort = 50000;
    std::vector<std::uint8_t> segment = tcp.withPayload("data").bytes();
    segment[24] = 0x89;  // sequence 0x89000000
    segment[31] = 7;     // acknowledgement 7
    segment[33] = 0x18;  // PSH, ACK
    segment[35] = 0xF0;  // window 240
    const std::vector<std::uint8_t> hopByHop = {60, 0, 1, 4, 0, 0, 0, 0};
    const std::vector<std::uint8_t> destination = {6, 0, 1, 4, 0, 0, 0, 0};
    std::vector<std::uint8_t> extensions = hopByHop;
    extensions.insert(extensions.end(), destination.begin(), destination.end());
    std::vector<std::uint8_t> bytes = test::asIpv6(tcp, 1, 2, extensions, 0);
    std::copy(segment.begin() + 20, segment.end(), bytes.begin() + 56);
    bytes[1] = 0x01;  // flow label 0x12345
    bytes[2] = 0x23;
    bytes[3] = 0x45;
    const Block block(bytes);
    const DatagramView view(block.data(), block.length());
    ASSERT_TRUE(view.isIpv6() && view.isDecodable() && view.isTcpNavigable());
    EXPECT_EQ(view.protocol(), 6);
    EXPECT_EQ(view.upperOffset(), 56u);
    EXPECT_EQ(view.protocolByteOffset(), 48u);
    EXPECT_EQ(view.totalLength(), bytes.size());
    EXPECT_EQ(view.ttl(), 64);
    EXPECT_EQ(view.flowLabel(), 0x12345u);
    EXPECT_EQ(view.sourceAddressText(), "fd00::1");
    EXPECT_EQ(view.destinationAddressText(), "fd00::2");
    EXPECT_EQ(view.sourceAddress(), 0u);
    EXPECT_EQ(view.sourcePort(), 443);
    EXPECT_EQ(view.destinationPort(), 50000);
    EXPECT_EQ(view.tcpSequence(), 0x89000000u);
    EXPECT_EQ(view.tcpAcknowledgement(), 7u);
    EXPECT_TRUE(view.tcpFlags().push && view.tcpFlags().acknowledgement);
    EXPECT_EQ(view.tcpWindow(), 240);
    EXPECT_EQ(payloadText(view), "data");

    // A later fragment of UDP: the protocol, but no ports; its data starts after the chain.
    TestDatagram udp;
    udp.protocol = 17;
    const std::vector<std::uint8_t> fragment = {17, 0, 0x05, 0xA8, 0, 0, 0, 9};  // at 1448
    const std::vector<std::uint8_t> later =
        test::asIpv6(udp.withPayload("tail"), 1, 2, fragment, 44);
    const DatagramView laterView(later.data(), static_cast<std::uint32_t>(later.size()));
    EXPECT_EQ(laterView.protocol(), 17);
    EXPECT_FALSE(laterView.hasPorts());
    EXPECT_EQ(laterView.sourcePort(), 0);
    EXPECT_EQ(laterView.payloadOffset(), 48u);

    // ICMPv6 has an 8-byte header; IPv4's protocol 58 is no ICMP of its own.
    TestDatagram icmp;
    icmp.protocol = 58;
    icmp.payload.assign(8, 0);
    icmp.payload.insert(icmp.payload.end(), {'p', 'i', 'n', 'g'});
    const std::vector<std::uint8_t> echo = test::asIpv6(icmp);
    const DatagramView echoView(echo.data(), static_cast<std::uint32_t>(echo.size()));
    EXPECT_EQ(echoView.payloadOffset(), 48u);
    EXPECT_EQ(payloadText(echoView), "ping");
    const std::vector<std::uint8_t> ipv4 = icmp.bytes();
    EXPECT_EQ(DatagramView(ipv4.data(), static_cast<std::uint32_t>(ipv4.size())).payloadOffset(),
              20u);

    // Shorter than the fixed header: IPv6, but nothing to decode and nothing read past it.
    const Block shortBlock(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 39));
    const DatagramView cut(shortBlock.data(), shortBlock.length());
    EXPECT_TRUE(cut.isIpv6());
    EXPECT_FALSE(cut.isDecodable());
    EXPECT_EQ(cut.destinationAddressText(), "::");
    EXPECT_TRUE(cut.payload().empty());
}

}  // namespace
}  // namespace qhs
