#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/DatagramView.h"
#include "app/UserMessage.h"
#include "capture/PacketTable.h"

namespace qhs {

// How the "Entire packet" pane shows the datagram's bytes (see ByteRenderings.h).
enum class EntirePacketRendering { None, Text, Dec, Hex };

// The pane's rendering from the three radio buttons (or the detailShow* settings), tested
// in the order Dec, Hex, Text; None when none is checked.
EntirePacketRendering chooseEntirePacketRendering(bool showText, bool showDec, bool showHex);

// The decoded fields of the detail view, each one text box of the window.
enum class DetailField {
    PacketSize,       // "Packet size:"
    Ttl,              // "TTL:" (the hop limit of IPv6, labelled "Hop limit:")
    ProtocolNumber,   // "Protocol #:"
    PacketType,       // "Packet type:"
    IpChecksum,       // "IP checksum:" (the flow label of IPv6, labelled "Flow label:")
    FromIp,           // "From IP"
    ToIp,             // "To IP:"
    FromPort,         // "From port:"
    FromPortUse,      // "use:" beside the source port
    ToPort,           // "To port:"
    ToPortUse,        // "use:" beside the destination port
    Sequence,         // "Sequence:"
    Acknowledgement,  // "Acknowledgement:"
    Window,           // "Window:"
};
inline constexpr std::size_t DetailFieldCount = 14;

// The labels of the two boxes whose field differs between IPv4 and IPv6.
inline constexpr std::string_view TtlLabelText = "TTL:";
inline constexpr std::string_view HopLimitLabelText = "Hop limit:";
inline constexpr std::string_view IpChecksumLabelText = "IP checksum:";
inline constexpr std::string_view FlowLabelLabelText = "Flow label:";

inline constexpr std::string_view InvalidPacketDataText = "Invalid packet data!";
inline constexpr std::string_view InvalidPacketPointerText = "Invalid packet ptr!";

// Everything the detail view shows for one store slot. A default-constructed detail is the
// empty view that Clear and a fruitless find leave: every text empty, every flag hidden.
struct PacketDetail {
    // The fields describe a datagram of at least 20 bytes (40 for IPv6).
    bool decodable = false;
    // An IPv6 datagram: two boxes show its own fields in place of TTL and checksum.
    bool ipv6 = false;
    // The number "Protocol #:" shows; it decides which fields highlight their bytes.
    std::uint8_t protocol = 0;
    // Where the byte naming the protocol and the upper-layer header lie (9 and 20 for IPv4).
    std::uint32_t protocolByteOffset = 9;
    std::uint32_t upperOffset = 20;
    bool hasPorts = false;
    std::uint32_t capturedLength = 0;
    EntirePacketRendering rendering = EntirePacketRendering::None;

    std::string fields[DetailFieldCount];
    // Each flag is the visibility of its label ("URG", "ACK", "PSH", "RST", "SYN", "FIN").
    TcpFlags flagLabels;
    std::string entirePacket;  // "Entire packet" pane, "\r\n" line ends in Dec and Hex
    std::string packetData;    // "Packet data" pane: the payload as text

    // For a slot without data or shorter than 20 bytes: a Yes/No question with no owner
    // window. Yes deletes the row (answerInvalidPacketQuestion); No keeps it, and the
    // question comes again the next time the row is rendered.
    std::optional<UserMessage> invalidPacketQuestion;

    const std::string& text(DetailField field) const {
        return fields[static_cast<std::size_t>(field)];
    }
    std::string& text(DetailField field) { return fields[static_cast<std::size_t>(field)]; }
};

// Renders the datagram of one store slot. The caller holds the list guard (the selection
// watcher takes it with try_lock) so that no Clear frees the slot meanwhile.
PacketDetail renderDetail(const PacketStore& store, std::int32_t slot,
                          EntirePacketRendering rendering);
PacketDetail renderDetail(const DatagramView& datagram, EntirePacketRendering rendering);

// Carries out the answer to invalidPacketQuestion for the row the window rendered: Yes
// removes the row that shows `slot` (it may have moved while the question was open), No
// changes nothing. The store slot is never touched. Takes the list guard itself; returns
// whether a row was removed.
bool answerInvalidPacketQuestion(bool yes, PacketTable& table, std::int32_t row, std::int32_t slot);

// Characters [begin, end) of a pane text.
struct CharacterRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const CharacterRange&) const = default;
};

// The characters of the "Entire packet" pane that hold the bytes a field was read from,
// from the first character of its first byte to the last digit of its last byte. None when
// the pane shows Text or nothing, when the field is a "use:" field, when the ports are asked
// for and the protocol is not 6 or 17, or the TCP fields and it is not 6. A field whose
// bytes lie partly beyond the captured length selects only the characters that exist.
std::optional<CharacterRange> highlightRange(const PacketDetail& shown, DetailField field);

// A range of a text with "\r\n" line ends, moved to a text control that keeps each "\r\n"
// as one line break: every line end before a position moves it back by one character.
CharacterRange withSingleCharacterLineBreaks(CharacterRange range, std::string_view paneText);

}  // namespace qhs
