#include "packetmode/PacketDetail.h"

#include <algorithm>
#include <cstdio>

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
// points at the header's length field, the only size the header holds.
std::optional<FieldBytes> bytesOfField(DetailField field, const PacketDetail& shown) {
    const bool isTcp = shown.protocol == DatagramView::ProtocolTcp && shown.hasPorts;
    const std::uint32_t upper = shown.upperOffset;
    const auto inTcp = [&](std::uint32_t first, std::uint32_t last) -> std::optional<FieldBytes> {
        return isTcp ? std::optional(FieldBytes{upper + first, upper + last}) : std::nullopt;
    };
    const std::uint32_t protocolByte = shown.protocolByteOffset;
    switch (field) {
        case DetailField::PacketSize:
            return shown.ipv6 ? FieldBytes{4, 5} : FieldBytes{2, 3};
        case DetailField::Ttl:
            return shown.ipv6 ? FieldBytes{7, 7} : FieldBytes{8, 8};
        case DetailField::ProtocolNumber:
        case DetailField::PacketType:
            return FieldBytes{protocolByte, protocolByte};
        case DetailField::IpChecksum:
            return shown.ipv6 ? FieldBytes{1, 3} : FieldBytes{10, 11};
        case DetailField::FromIp:
            return shown.ipv6 ? FieldBytes{8, 23} : FieldBytes{12, 15};
        case DetailField::ToIp:
            return shown.ipv6 ? FieldBytes{24, 39} : FieldBytes{16, 19};
        case DetailField::FromPort:
            return shown.hasPorts ? std::optional(FieldBytes{upper, upper + 1}) : std::nullopt;
        case DetailField::ToPort:
            return shown.hasPorts ? std::optional(FieldBytes{upper + 2, upper + 3}) : std::nullopt;
        case DetailField::Sequence:
            return inTcp(4, 7);
        case DetailField::Acknowledgement:
            return inTcp(8, 11);
        case DetailField::Window:
            return inTcp(14, 15);
        case DetailField::FromPortUse:
        case DetailField::ToPortUse:
            break;
    }
    return std::nullopt;
}

std::string flowLabelText(std::uint32_t label) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "0x%05x", label);
    return std::string(text, static_cast<std::size_t>(length));
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
    detail.ipv6 = datagram.isIpv6();
    detail.protocol = datagram.protocol();
    detail.protocolByteOffset = datagram.protocolByteOffset();
    detail.upperOffset = datagram.upperOffset();
    detail.hasPorts = datagram.hasPorts();
    detail.capturedLength = datagram.capturedLength();
    detail.rendering = rendering;

    const std::span<const std::uint8_t> bytes(datagram.data(), datagram.capturedLength());
    detail.entirePacket = entirePacketText(bytes, rendering);
    detail.packetData = renderText(datagram.payload());

    detail.text(DetailField::PacketType) = protocolNameOf(datagram);
    detail.text(DetailField::PacketSize) = std::to_string(datagram.capturedLength());
    detail.text(DetailField::FromIp) = datagram.sourceAddressText();
    detail.text(DetailField::ToIp) = datagram.destinationAddressText();
    detail.text(DetailField::FromPort) = std::to_string(datagram.sourcePort());
    detail.text(DetailField::ToPort) = std::to_string(datagram.destinationPort());
    detail.text(DetailField::FromPortUse) = portUseText(detail.protocol, datagram.sourcePort());
    detail.text(DetailField::ToPortUse) = portUseText(detail.protocol, datagram.destinationPort());
    detail.text(DetailField::ProtocolNumber) = std::to_string(detail.protocol);
    detail.text(DetailField::Ttl) = std::to_string(datagram.ttl());
    detail.text(DetailField::IpChecksum) = detail.ipv6 ? flowLabelText(datagram.flowLabel())
                                                       : std::to_string(datagram.headerChecksum());
    if (datagram.isTcp() && datagram.hasPorts()) {
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
    const std::optional<FieldBytes> bytes = bytesOfField(field, shown);
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
