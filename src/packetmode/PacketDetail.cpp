#include "packetmode/PacketDetail.h"

#include <algorithm>

#include "analysis/PortNameTable.h"
#include "analysis/ProtocolNameTable.h"
#include "packetmode/ByteRenderings.h"
#include "packetmode/PacketRowLookup.h"

namespace qhs {

namespace {

constexpr std::string_view InvalidDataQuestion =
    "A list item with invalid packet data has been encountered, would you like to delete this "
    "item from the list?";
constexpr std::string_view InvalidPointerQuestion =
    "A list item with an invalid packet pointer has been encountered, would you like to delete "
    "this item from the list?";
constexpr std::string_view InvalidPacketCaption = "Delete invalid packet?";

PacketDetail invalidPacketDetail(bool holdsData) {
    PacketDetail detail;
    detail.entirePacket = holdsData ? InvalidPacketDataText : InvalidPacketPointerText;
    detail.invalidPacketQuestion =
        UserMessage{std::string(holdsData ? InvalidDataQuestion : InvalidPointerQuestion),
                    std::string(InvalidPacketCaption), MessageIcon::Question};
    return detail;
}

std::string entirePacketText(std::span<const std::uint8_t> bytes, EntirePacketRendering rendering) {
    switch (rendering) {
        case EntirePacketRendering::Dec:
            return renderDecimal(bytes);
        case EntirePacketRendering::Hex:
            return renderHex(bytes);
        case EntirePacketRendering::Text:
            return renderText(bytes);
        case EntirePacketRendering::None:
            break;
    }
    return {};
}

struct FieldBytes {
    std::uint32_t first;
    std::uint32_t last;  // inclusive
};

// The header bytes each field was read from; the size field shows the captured length but
// points at the IP total length, the only size the header holds.
std::optional<FieldBytes> bytesOfField(DetailField field, std::uint8_t protocol) {
    const bool hasPorts =
        protocol == DatagramView::ProtocolTcp || protocol == DatagramView::ProtocolUdp;
    const bool isTcp = protocol == DatagramView::ProtocolTcp;
    switch (field) {
        case DetailField::PacketSize:
            return FieldBytes{2, 3};
        case DetailField::Ttl:
            return FieldBytes{8, 8};
        case DetailField::ProtocolNumber:
        case DetailField::PacketType:
            return FieldBytes{9, 9};
        case DetailField::IpChecksum:
            return FieldBytes{10, 11};
        case DetailField::FromIp:
            return FieldBytes{12, 15};
        case DetailField::ToIp:
            return FieldBytes{16, 19};
        case DetailField::FromPort:
            return hasPorts ? std::optional(FieldBytes{20, 21}) : std::nullopt;
        case DetailField::ToPort:
            return hasPorts ? std::optional(FieldBytes{22, 23}) : std::nullopt;
        case DetailField::Sequence:
            return isTcp ? std::optional(FieldBytes{24, 27}) : std::nullopt;
        case DetailField::Acknowledgement:
            return isTcp ? std::optional(FieldBytes{28, 31}) : std::nullopt;
        case DetailField::Window:
            return isTcp ? std::optional(FieldBytes{34, 35}) : std::nullopt;
        case DetailField::FromPortUse:
        case DetailField::ToPortUse:
            break;
    }
    return std::nullopt;
}

}  // namespace

EntirePacketRendering chooseEntirePacketRendering(bool showText, bool showDec, bool showHex) {
    if (showDec) {
        return EntirePacketRendering::Dec;
    }
    if (showHex) {
        return EntirePacketRendering::Hex;
    }
    if (showText) {
        return EntirePacketRendering::Text;
    }
    return EntirePacketRendering::None;
}

PacketDetail renderDetail(const PacketStore& store, std::int32_t slot,
                          EntirePacketRendering rendering) {
    return renderDetail(DatagramView(store.packet(slot), store.length(slot)), rendering);
}

PacketDetail renderDetail(const DatagramView& datagram, EntirePacketRendering rendering) {
    // A missing block is named as such; a present one below 20 bytes, even one of length 0,
    // as bad data.
    if (datagram.data() == nullptr) {
        return invalidPacketDetail(false);
    }
    if (!datagram.isDecodable()) {
        return invalidPacketDetail(true);
    }

    PacketDetail detail;
    detail.decodable = true;
    detail.protocol = datagram.protocol();
    detail.capturedLength = datagram.capturedLength();
    detail.rendering = rendering;

    const std::span<const std::uint8_t> bytes(datagram.data(), datagram.capturedLength());
    detail.entirePacket = entirePacketText(bytes, rendering);
    detail.packetData = renderText(datagram.payload());

    detail.text(DetailField::PacketType) = protocolName(detail.protocol);
    detail.text(DetailField::PacketSize) = std::to_string(datagram.capturedLength());
    detail.text(DetailField::FromIp) = datagram.sourceAddressText();
    detail.text(DetailField::ToIp) = datagram.destinationAddressText();
    detail.text(DetailField::FromPort) = std::to_string(datagram.sourcePort());
    detail.text(DetailField::ToPort) = std::to_string(datagram.destinationPort());
    detail.text(DetailField::FromPortUse) = portUseText(detail.protocol, datagram.sourcePort());
    detail.text(DetailField::ToPortUse) = portUseText(detail.protocol, datagram.destinationPort());
    detail.text(DetailField::ProtocolNumber) = std::to_string(detail.protocol);
    detail.text(DetailField::Ttl) = std::to_string(datagram.ttl());
    detail.text(DetailField::IpChecksum) = std::to_string(datagram.headerChecksum());
    if (datagram.isTcp()) {
        detail.text(DetailField::Sequence) = std::to_string(datagram.tcpSequence());
        detail.text(DetailField::Acknowledgement) = std::to_string(datagram.tcpAcknowledgement());
        detail.text(DetailField::Window) = std::to_string(datagram.tcpWindow());
        detail.flagLabels = datagram.tcpFlags();
    }
    return detail;
}

bool answerInvalidPacketQuestion(bool yes, PacketTable& table, std::int32_t row,
                                 std::int32_t slot) {
    if (!yes) {
        return false;
    }
    PacketTable::Access access = table.lock();
    return removeRowOfSlot(access.list(), slot, row);
}

std::optional<CharacterRange> highlightRange(const PacketDetail& shown, DetailField field) {
    const bool isDec = shown.rendering == EntirePacketRendering::Dec;
    if (!shown.decodable || (!isDec && shown.rendering != EntirePacketRendering::Hex)) {
        return std::nullopt;
    }
    const std::optional<FieldBytes> bytes = bytesOfField(field, shown.protocol);
    if (!bytes || bytes->first >= shown.capturedLength) {
        return std::nullopt;
    }
    const std::uint32_t last = std::min(bytes->last, shown.capturedLength - 1);
    if (isDec) {
        return CharacterRange{decimalBytePosition(bytes->first),
                              decimalBytePosition(last) + DecimalByteWidth};
    }
    return CharacterRange{hexBytePosition(bytes->first), hexBytePosition(last) + HexByteWidth};
}

CharacterRange withSingleCharacterLineBreaks(CharacterRange range, std::string_view paneText) {
    // Line ends whose "\n" lies before a position; a position inside a "\r\n" stays on it.
    const auto lineEndsBefore = [paneText](std::size_t position) {
        std::size_t count = 0;
        const std::size_t limit = std::min(position, paneText.size());
        for (std::size_t i = 1; i < limit; ++i) {
            if (paneText[i] == '\n' && paneText[i - 1] == '\r') {
                ++count;
            }
        }
        return count;
    };
    return CharacterRange{range.begin - lineEndsBefore(range.begin),
                          range.end - lineEndsBefore(range.end)};
}

}  // namespace qhs
