#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qhs {

// Link-layer header types as libpcap reports them for a live device or a capture file.
enum class LinkType : int {
    Null = 0,      // BSD loopback: a 4-byte address family in the writer's byte order
    Ethernet = 1,  // with or without 802.1Q / 802.1ad tags
    Raw = 12,      // the IP header first (Linux's value; files say 101)
    Loop = 108,    // as Null, with the family in network byte order
    LinuxCooked = 113,
    Ipv4 = 228,
    Ipv6 = 229,
    LinuxCooked2 = 276,
};

// The part of a frame that is an IP datagram, IPv4 or IPv6.
struct IpInFrame {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Where the IP datagram (IPv4 or IPv6) starts in a frame of `linkType` and how long it is, or
// nothing when the frame carries no IP datagram (another protocol, an unknown link type, or a
// frame too short for its link header). Link padding after the datagram's length is left out.
std::optional<IpInFrame> ipInFrame(int linkType, const std::uint8_t* frame, std::size_t length);

// The link type a capture file's header gives, as libpcap reports it: files say 101 for raw
// IP, and the top bits of a classic pcap file's field say other things.
int linkTypeOfFileValue(std::uint32_t fileValue);

// Whether frames of `linkType` can carry IP datagrams that ipInFrame finds.
bool linkTypeIsKnown(int linkType);

// The length of the IP datagram at `datagram`: link layers pad short frames (an Ethernet
// frame carries at least 46 bytes), so a length field (IPv4's total length, IPv6's payload
// length plus 40) that is sound and shorter than what arrived gives the datagram's true end.
std::size_t ipDatagramLength(const std::uint8_t* datagram, std::size_t received);

// The most bytes of link header ipInFrame looks past: Ethernet with two VLAN tags, or the
// second Linux cooked header, with room to spare.
inline constexpr std::size_t LargestLinkHeaderBytes = 64;

}  // namespace qhs
