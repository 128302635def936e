#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "analysis/PortNameTable.h"
#include "analysis/ProtocolNameTable.h"
#include "packetmode/PacketDetail.h"

namespace qhs {
namespace {

using test::address;
using test::PacketListFixture;
using test::TestDatagram;

// A TCP datagram with every header field set to a value of its own.
std::vector<std::uint8_t> tcpDatagram() {
    TestDatagram datagram;
    datagram.source = address(192, 168, 1, 20);
    datagram.destination = address(10, 0, 0, 255);
    datagram.sourcePort = 443;
    datagram.destinationPort = 50000;
    datagram.withPayload(std::string("GET / HTTP/1.0\r\n\r\n\0x", 20));
    std::vector<std::uint8_t> bytes = datagram.bytes();
    bytes[8] = 128;  // TTL
    bytes[10] = 0xAB;
    bytes[11] = 0xCD;
    const std::uint8_t tcp[] = {0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x02,
                                0x03, 0x04, 0x50, 0x52, 0xFA, 0xF0};
    std::copy(std::begin(tcp), std::end(tcp), bytes.begin() + 24);
    return bytes;
}

std::string collapseLineEnds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

TEST(PacketDetail, ShowsEveryFieldOfATcpDatagram) {
    PacketListFixture packets;
    const std::vector<std::uint8_t> bytes = tcpDatagram();
    const std::int32_t slot = packets.add(bytes);
    const PacketDetail detail = renderDetail(*packets.store, slot, EntirePacketRendering::Dec);

    ASSERT_TRUE(detail.decodable);
    EXPECT_FALSE(detail.invalidPacketQuestion);
    EXPECT_EQ(detail.text(DetailField::PacketSize), std::to_string(bytes.size()));
    EXPECT_EQ(detail.text(DetailField::Ttl), "128");
    EXPECT_EQ(detail.text(DetailField::ProtocolNumber), "6");
    EXPECT_EQ(detail.text(DetailField::PacketType), protocolName(6));
    EXPECT_EQ(detail.text(DetailField::IpChecksum), "43981");
    EXPECT_EQ(detail.text(DetailField::FromIp), "192.168.1.20");
    EXPECT_EQ(detail.text(DetailField::ToIp), "10.0.0.255");
    EXPECT_EQ(detail.text(DetailField::FromPort), "443");
    EXPECT_EQ(detail.text(DetailField::FromPortUse), tcpPortName(443));
    EXPECT_EQ(detail.text(DetailField::ToPort), "50000");
    EXPECT_EQ(detail.text(DetailField::Sequence), "2309737967");
    EXPECT_EQ(detail.text(DetailField::Acknowledgement), "16909060");
    EXPECT_EQ(detail.text(DetailField::Window), "64240");
    // Flags byte 0x52: SYN and ACK; the 0x40 bit is no flag.
    EXPECT_TRUE(detail.flagLabels.synchronize && detail.flagLabels.acknowledgement);
    EXPECT_FALSE(detail.flagLabels.urgent || detail.flagLabels.push || detail.flagLabels.reset ||
                 detail.flagLabels.finish);
    // The payload as text: line breaks kept, zero bytes left out.
    EXPECT_EQ(detail.packetData, "GET / HTTP/1.0\r\n\r\nx");
    EXPECT_EQ(detail.entirePacket.substr(0, 41), " 69   0   0  60   0   0   0   0 128   6\r\n");
}

TEST(PacketDetail, EntirePacketFollowsTheCheckedRenderingDecFirst) {
    EXPECT_EQ(chooseEntirePacketRendering(true, true, true), EntirePacketRendering::Dec);
    EXPECT_EQ(chooseEntirePacketRendering(true, false, true), EntirePacketRendering::Hex);
    EXPECT_EQ(chooseEntirePacketRendering(true, false, false), EntirePacketRendering::Text);
    EXPECT_EQ(chooseEntirePacketRendering(false, false, false), EntirePacketRendering::None);

    PacketListFixture packets;
    const std::int32_t slot = packets.add(TestDatagram{}.withPayload("AB"));
    EXPECT_EQ(
        renderDetail(*packets.store, slot, EntirePacketRendering::Hex).entirePacket.substr(0, 6),
        "45 00 ");
    // Text leaves out the header's many zero bytes.
    const std::string text =
        renderDetail(*packets.store, slot, EntirePacketRendering::Text).entirePacket;
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "AB");
    EXPECT_EQ(renderDetail(*packets.store, slot, EntirePacketRendering::None).entirePacket, "");
}

TEST(PacketDetail, IcmpAndOtherProtocolsShowNoPortsNamesOrTcpFields) {
    for (const std::uint8_t protocol : {std::uint8_t{1}, std::uint8_t{2}}) {
        PacketListFixture packets;
        TestDatagram datagram;
        datagram.protocol = protocol;
        // Byte 33 is 0x3F, every TCP flag, in both datagrams.
        const std::string payload(16, '\x3F');
        const PacketDetail detail = renderDetail(
            *packets.store, packets.add(datagram.withPayload(payload)), EntirePacketRendering::Hex);
        EXPECT_EQ(detail.text(DetailField::FromPort), "0") << int{protocol};
        EXPECT_EQ(detail.text(DetailField::ToPort), "0");
        EXPECT_EQ(detail.text(DetailField::FromPortUse), "");
        EXPECT_EQ(detail.text(DetailField::ToPortUse), "");
        EXPECT_EQ(detail.text(DetailField::Sequence), "");
        EXPECT_EQ(detail.text(DetailField::Acknowledgement), "");
        EXPECT_EQ(detail.text(DetailField::Window), "");
        EXPECT_EQ(detail.flagLabels.urgent || detail.flagLabels.acknowledgement ||
                      detail.flagLabels.push || detail.flagLabels.reset ||
                      detail.flagLabels.synchronize || detail.flagLabels.finish,
                  false);
        EXPECT_FALSE(highlightRange(detail, DetailField::FromPort));
        EXPECT_FALSE(highlightRange(detail, DetailField::Sequence));
        // ICMP data starts after an 8-byte header, other protocols right after the IP header.
        EXPECT_EQ(detail.packetData, payload) << int{protocol};
    }
}

TEST(PacketDetail, UdpPortsShowTheirUdpNamesOrUnknown) {
    constexpr std::uint16_t UnnamedPort = 64999;
    ASSERT_FALSE(UdpPortNameTable.hasName(UnnamedPort));
    ASSERT_FALSE(udpPortName(53).empty());

    PacketListFixture packets;
    TestDatagram datagram;
    datagram.protocol = 17;
    datagram.sourcePort = UnnamedPort;
    datagram.destinationPort = 53;
    const PacketDetail detail =
        renderDetail(*packets.store, packets.add(datagram), EntirePacketRendering::Dec);
    EXPECT_EQ(detail.text(DetailField::FromPort), "64999");
    EXPECT_EQ(detail.text(DetailField::FromPortUse), "Unknown");
    EXPECT_EQ(detail.text(DetailField::ToPortUse), udpPortName(53));
    EXPECT_EQ(detail.text(DetailField::Sequence), "");
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
    const PacketDetail dec = renderDetail(*packets.store, slot, EntirePacketRendering::Dec);
    const PacketDetail hex = renderDetail(*packets.store, slot, EntirePacketRendering::Hex);
    const PacketDetail text = renderDetail(*packets.store, slot, EntirePacketRendering::Text);
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
    EXPECT_FALSE(highlightRange(dec, DetailField::FromPortUse));
    EXPECT_EQ(withSingleCharacterLineBreaks({49, 60}, hex.entirePacket), (CharacterRange{48, 59}));
}

TEST(PacketDetail, FieldsBeyondAShortDatagramHighlightOnlyWhatExists) {
    PacketListFixture packets;
    TestDatagram datagram;
    datagram.protocol = 17;
    std::vector<std::uint8_t> bytes = datagram.bytes();
    bytes.resize(21);  // half a source port
    const PacketDetail detail =
        renderDetail(*packets.store, packets.add(bytes), EntirePacketRendering::Hex);
    ASSERT_TRUE(detail.decodable);
    EXPECT_EQ(detail.text(DetailField::FromPort), "0");
    EXPECT_EQ(highlightRange(detail, DetailField::FromPort), (CharacterRange{61, 63}));
    EXPECT_FALSE(highlightRange(detail, DetailField::ToPort));
    EXPECT_EQ(detail.packetData, "");
    EXPECT_LE(highlightRange(detail, DetailField::FromPort)->end, detail.entirePacket.size());
}

TEST(PacketDetail, ASlotBelowTwentyBytesOrWithoutDataAsksToDeleteTheRow) {
    PacketListFixture packets;
    const std::int32_t shortSlot = packets.add(std::vector<std::uint8_t>(19, 0x45));
    const std::int32_t releasedSlot = packets.add(tcpDatagram());
    packets.store->release(releasedSlot);

    const PacketDetail shortDetail =
        renderDetail(*packets.store, shortSlot, EntirePacketRendering::Dec);
    EXPECT_FALSE(shortDetail.decodable);
    EXPECT_EQ(shortDetail.entirePacket, "Invalid packet data!");
    ASSERT_TRUE(shortDetail.invalidPacketQuestion);
    EXPECT_EQ(*shortDetail.invalidPacketQuestion,
              (UserMessage{"A list item with invalid packet data has been encountered, would you "
                           "like to delete this item from the list?",
                           "Delete invalid packet?", MessageIcon::Question}));
    for (const std::string& field : shortDetail.fields) {
        EXPECT_EQ(field, "");
    }
    EXPECT_EQ(shortDetail.packetData, "");
    EXPECT_FALSE(highlightRange(shortDetail, DetailField::PacketSize));

    const PacketDetail releasedDetail =
        renderDetail(*packets.store, releasedSlot, EntirePacketRendering::Hex);
    EXPECT_EQ(releasedDetail.entirePacket, "Invalid packet ptr!");
    ASSERT_TRUE(releasedDetail.invalidPacketQuestion);
    EXPECT_EQ(releasedDetail.invalidPacketQuestion->text,
              "A list item with an invalid packet pointer has been encountered, would you like "
              "to delete this item from the list?");
    // A slot index outside the store reads as a slot without data.
    EXPECT_EQ(renderDetail(*packets.store, -1, EntirePacketRendering::Dec).entirePacket,
              "Invalid packet ptr!");
    EXPECT_EQ(
        renderDetail(*packets.store, PacketStoreCapacity, EntirePacketRendering::Dec).entirePacket,
        "Invalid packet ptr!");
}

TEST(PacketDetail, NoKeepsTheInvalidRowAndYesDeletesItWhereverItMoved) {
    PacketListFixture packets;
    packets.add(tcpDatagram());
    const std::int32_t shortSlot = packets.add(std::vector<std::uint8_t>(19, 0));
    packets.add(tcpDatagram());

    EXPECT_FALSE(answerInvalidPacketQuestion(false, packets.list, packets.listBusy, 1, shortSlot));
    EXPECT_EQ(packets.slotsInRowOrder(), (std::vector<std::int32_t>{0, 1, 2}));
    // The row still asks the next time it is rendered.
    EXPECT_TRUE(
        renderDetail(*packets.store, shortSlot, EntirePacketRendering::Dec).invalidPacketQuestion);

    // While the question was open the row moved from index 1 to 0.
    packets.list.removeRow(0);
    EXPECT_TRUE(answerInvalidPacketQuestion(true, packets.list, packets.listBusy, 1, shortSlot));
    EXPECT_EQ(packets.slotsInRowOrder(), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(packets.store->length(shortSlot), 19u);  // the slot is not touched
}

}  // namespace
}  // namespace qhs
