#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "analysis/PortNameTable.h"
#include "packetmode/ByteRenderings.h"
#include "packetmode/PacketDetail.h"

namespace qhs {
namespace {

using test::address;
using test::PacketListFixture;
using test::TestDatagram;

// A TCP datagram whose header fields all differ from the test builder's zeros.
std::vector<std::uint8_t> tcpDatagram() {
    TestDatagram datagram;
    datagram.source = address(192, 168, 1, 20);
    datagram.withPayload(std::string("GET / HTTP/1.0\r\n\r\n\0x", 20));
    std::vector<std::uint8_t> bytes = datagram.bytes();
    const std::uint8_t fields[] = {0xAB, 0xCD, 192,  168,  1,    20,   10,   0,    0,
                                   2,    0x01, 0xBB, 0xC3, 0x50, 0x89, 0xAB, 0xCD, 0xEF,
                                   0x01, 0x02, 0x03, 0x04, 0x50, 0x52, 0xFA, 0xF0};
    std::copy(std::begin(fields), std::end(fields), bytes.begin() + 10);
    return bytes;
}

bool anyFlag(const TcpFlags& f) {
    return f.urgent || f.acknowledgement || f.push || f.reset || f.synchronize || f.finish;
}

std::string collapseLineEnds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

TEST(PacketDetail, ShowsTheFieldsOfATcpDatagramUnsigned) {
    PacketListFixture packets;
    const std::int32_t added = packets.add(tcpDatagram());
    const PacketDetail detail =
        renderDetail(packets.table->lock().store(), added, EntirePacketRendering::Dec);
    ASSERT_TRUE(detail.decodable);
    EXPECT_EQ(detail.text(DetailField::IpChecksum), "43981");
    EXPECT_EQ(detail.text(DetailField::FromIp), "192.168.1.20");
    EXPECT_EQ(detail.text(DetailField::FromPortUse), tcpPortName(443));
    EXPECT_EQ(detail.text(DetailField::ToPort), "50000");
    EXPECT_EQ(detail.text(DetailField::Sequence), "2309737967");
    EXPECT_EQ(detail.text(DetailField::Window), "64240");
    // Flags byte 0x52: SYN and ACK; the 0x40 bit is no flag.
    EXPECT_TRUE(detail.flagLabels.synchronize && detail.flagLabels.acknowledgement);
    EXPECT_FALSE(detail.flagLabels.urgent || detail.flagLabels.push || detail.flagLabels.reset ||
                 detail.flagLabels.finish);
    // The payload as text: line breaks kept, zero bytes left out.
    EXPECT_EQ(detail.packetData, "GET / HTTP/1.0\r\n\r\nx");

    EXPECT_EQ(chooseEntirePacketRendering(true, true, true), EntirePacketRendering::Dec);
    EXPECT_EQ(chooseEntirePacketRendering(true, false, true), EntirePacketRendering::Hex);
    EXPECT_EQ(chooseEntirePacketRendering(false, false, false), EntirePacketRendering::None);
}

TEST(PacketDetail, IcmpAndOtherProtocolsShowNoPortNamesOrTcpFields) {
    for (const std::uint8_t protocol : {std::uint8_t{1}, std::uint8_t{2}}) {
        PacketListFixture packets;
        TestDatagram datagram;
        datagram.protocol = protocol;
        // Byte 33 is 0x3F, every TCP flag, in both datagrams.
        const std::string payload(16, '\x3F');
        const std::int32_t added = packets.add(datagram.withPayload(payload));
        const PacketDetail detail =
            renderDetail(packets.table->lock().store(), added, EntirePacketRendering::Hex);
        EXPECT_EQ(detail.text(DetailField::FromPort) + detail.text(DetailField::ToPort), "00");
        EXPECT_EQ(detail.text(DetailField::FromPortUse) + detail.text(DetailField::ToPortUse) +
                      detail.text(DetailField::Sequence) +
                      detail.text(DetailField::Acknowledgement) + detail.text(DetailField::Window),
                  "");
        EXPECT_FALSE(anyFlag(detail.flagLabels));
        EXPECT_FALSE(highlightRange(detail, DetailField::FromPort));
        EXPECT_FALSE(highlightRange(detail, DetailField::Sequence));
        // ICMP data starts after an 8-byte header, other protocols right after the IP header.
        EXPECT_EQ(detail.packetData, payload) << int{protocol};
    }
}

TEST(PacketDetail, UdpPortsShowTheirUdpNamesOrUnknown) {
    constexpr std::uint16_t UnnamedPort = 64999;
    ASSERT_FALSE(UdpPortNameTable.hasName(UnnamedPort));
    PacketListFixture packets;
    TestDatagram datagram;
    datagram.protocol = 17;
    datagram.sourcePort = UnnamedPort;
    datagram.destinationPort = 53;
    const std::int32_t added = packets.add(datagram);
    const PacketDetail detail =
        renderDetail(packets.table->lock().store(), added, EntirePacketRendering::Dec);
    EXPECT_EQ(detail.text(DetailField::FromPortUse), "Unknown");
    EXPECT_EQ(detail.text(DetailField::ToPortUse), udpPortName(53));
    EXPECT_TRUE(highlightRange(detail, DetailField::ToPort));
    EXPECT_FALSE(highlightRange(detail, DetailField::Window));
}

struct FieldRanges {
    DetailField field;
    CharacterRange dec;
    CharacterRange hex;
};

TEST(PacketDetail, EachFieldHighlightsTheCharactersOfItsBytes) {
    const FieldRanges table[] = {
        {DetailField::PacketSize, {8, 15}, {6, 11}},
        {DetailField::Ttl, {32, 35}, {24, 26}},
        {DetailField::PacketType, {36, 39}, {27, 29}},
        {DetailField::ProtocolNumber, {36, 39}, {27, 29}},
        {DetailField::IpChecksum, {41, 48}, {30, 35}},
        {DetailField::FromIp, {49, 64}, {36, 47}},
        {DetailField::ToIp, {65, 80}, {49, 60}},
        {DetailField::FromPort, {82, 89}, {61, 66}},
        {DetailField::ToPort, {90, 97}, {67, 72}},
        {DetailField::Sequence, {98, 113}, {73, 84}},
        {DetailField::Acknowledgement, {114, 130}, {85, 96}},
        {DetailField::Window, {139, 146}, {104, 109}},
    };
    PacketListFixture packets;
    const std::int32_t slot = packets.add(tcpDatagram());
    const PacketDetail dec =
        renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Dec);
    const PacketDetail hex =
        renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Hex);
    const PacketDetail text =
        renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Text);
    for (const FieldRanges& expected : table) {
        const int field = static_cast<int>(expected.field);
        EXPECT_EQ(highlightRange(dec, expected.field), expected.dec) << field;
        EXPECT_EQ(highlightRange(hex, expected.field), expected.hex) << field;
        EXPECT_FALSE(highlightRange(text, expected.field)) << field;

        // In a control that keeps "\r\n" as one line break the same characters are selected.
        for (const PacketDetail* shown : {&dec, &hex}) {
            const CharacterRange range = *highlightRange(*shown, expected.field);
            const CharacterRange moved = withSingleCharacterLineBreaks(range, shown->entirePacket);
            EXPECT_EQ(
                collapseLineEnds(shown->entirePacket).substr(moved.begin, moved.end - moved.begin),
                collapseLineEnds(shown->entirePacket.substr(range.begin, range.end - range.begin)))
                << field;
        }
    }
    EXPECT_EQ(withSingleCharacterLineBreaks({49, 60}, hex.entirePacket), (CharacterRange{48, 59}));
}

TEST(PacketDetail, ASlotBelowTwentyBytesOrWithoutDataAsksToDeleteTheRow) {
    PacketListFixture packets;
    const std::int32_t shortSlot = packets.add(std::vector<std::uint8_t>(19, 0x45));
    // A stored block of captured length 0 is data too short to decode, not a missing block.
    const std::int32_t emptySlot = packets.add(std::vector<std::uint8_t>{});
    const std::int32_t releasedSlot = packets.add(tcpDatagram());
    packets.table->lock().store().release(releasedSlot);

    for (const std::int32_t slot : {shortSlot, emptySlot}) {
        const PacketDetail shortDetail =
            renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Dec);
        EXPECT_EQ(shortDetail.entirePacket, "Invalid packet data!") << slot;
        ASSERT_TRUE(shortDetail.invalidPacketQuestion);
        EXPECT_EQ(shortDetail.invalidPacketQuestion->caption, "Delete invalid packet?");
        EXPECT_NE(shortDetail.invalidPacketQuestion->text.find("invalid packet data"),
                  std::string::npos)
            << slot;
        for (const std::string& field : shortDetail.fields) {
            EXPECT_EQ(field, "");
        }
        EXPECT_FALSE(highlightRange(shortDetail, DetailField::PacketSize));
    }

    for (const std::int32_t slot : {releasedSlot, -1, PacketStoreCapacity}) {
        const PacketDetail detail =
            renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Hex);
        EXPECT_EQ(detail.entirePacket, "Invalid packet ptr!") << slot;
        ASSERT_TRUE(detail.invalidPacketQuestion);
        EXPECT_NE(detail.invalidPacketQuestion->text.find("invalid packet pointer"),
                  std::string::npos);
    }
}

TEST(PacketDetail, NoKeepsTheInvalidRowAndYesDeletesItWhereverItMoved) {
    PacketListFixture packets;
    packets.add(tcpDatagram());
    const std::int32_t shortSlot = packets.add(std::vector<std::uint8_t>(19, 0));
    packets.add(tcpDatagram());

    EXPECT_FALSE(answerInvalidPacketQuestion(false, *packets.table, 1, shortSlot));
    EXPECT_EQ(packets.slotsInRowOrder(), (std::vector<std::int32_t>{0, 1, 2}));

    packets.table->lock().list().removeRow(0);  // while the question was open the row moved up
    EXPECT_TRUE(answerInvalidPacketQuestion(true, *packets.table, 1, shortSlot));
    EXPECT_EQ(packets.slotsInRowOrder(), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(packets.table->lock().store().length(shortSlot), 19u);  // the slot is not touched
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// An IPv6 datagram shows its hop limit and flow label in the boxes of TTL and checksum, and
// each field highlights its own bytes, the TCP fields after the extension headers.
TEST(PacketDetail, Ipv6ShowsItsOwnFieldsInTheBoxesWhereIpv4Differs) {
    TestDatagram tcp;
    tcp.sourcePort = 443;
    const std::vector<std::uint8_t> hopByHop = {6, 0, 1, 4, 0, 0, 0, 0};
    std::vector<std::uint8_t> bytes = test::asIpv6(tcp.withPayload("GET"), 1, 2, hopByHop, 0);
    bytes[3] = 0x2A;  // flow label 0x0002a
    PacketListFixture packets;
    const std::int32_t slot = packets.add(bytes);
    const PacketDetail detail =
        renderDetail(packets.table->lock().store(), slot, EntirePacketRendering::Hex);
    ASSERT_TRUE(detail.decodable && detail.ipv6);
    EXPECT_EQ(detail.text(DetailField::Ttl), "64");
    EXPECT_EQ(detail.text(DetailField::IpChecksum), "0x0002a");
    EXPECT_EQ(detail.text(DetailField::ProtocolNumber), "6");
    EXPECT_EQ(detail.text(DetailField::PacketType), "TCP");
    EXPECT_EQ(detail.text(DetailField::FromIp), "fd00::1");
    EXPECT_EQ(detail.text(DetailField::FromPort), "443");
    EXPECT_EQ(detail.text(DetailField::FromPortUse), tcpPortName(443));
    EXPECT_EQ(detail.packetData, "GET");
    const auto bytesAt = [](std::uint32_t first, std::uint32_t last) {
        return CharacterRange{hexBytePosition(first), hexBytePosition(last) + HexByteWidth};
    };
    EXPECT_EQ(highlightRange(detail, DetailField::Ttl), bytesAt(7, 7));
    EXPECT_EQ(highlightRange(detail, DetailField::IpChecksum), bytesAt(1, 3));
    EXPECT_EQ(highlightRange(detail, DetailField::ProtocolNumber), bytesAt(40, 40));
    EXPECT_EQ(highlightRange(detail, DetailField::ToIp), bytesAt(24, 39));
    EXPECT_EQ(highlightRange(detail, DetailField::FromPort), bytesAt(48, 49));
    EXPECT_EQ(highlightRange(detail, DetailField::Window), bytesAt(62, 63));

    // ICMPv6 by its name; an IPv4 detail keeps the IPv4 boxes.
    TestDatagram echo;
    echo.protocol = 58;
    const std::int32_t echoSlot = packets.add(test::asIpv6(echo));
    EXPECT_EQ(renderDetail(packets.table->lock().store(), echoSlot, EntirePacketRendering::None)
                  .text(DetailField::PacketType),
              "ICMPv6");
    const std::int32_t ipv4 = packets.add(TestDatagram{});
    EXPECT_FALSE(
        renderDetail(packets.table->lock().store(), ipv4, EntirePacketRendering::None).ipv6);
}

}  // namespace
}  // namespace qhs
