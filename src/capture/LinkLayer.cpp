#include "capture/LinkLayer.h"

namespace qhs {

namespace {

constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
constexpr std::uint16_t EtherTypeIpv6 = 0x86DD;
constexpr std::uint32_t AddressFamilyInet = 2;  // AF_INET on every system that writes Null

std::uint16_t bigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

bool isVlanTag(std::uint16_t etherType) {
    return etherType == 0x8100 || etherType == 0x88A8 || etherType == 0x9100;
}

// AF_INET6 differs among the systems that write Null and Loop frames: Linux 10, the BSDs 24
// and 28, macOS 30.
bool isInet6Family(std::uint32_t family) {
    return family == 10 || family == 24 || family == 28 || family == 30;
}

// Which IP versions a link header says may follow.
enum class Says { Neither, Ipv4, Ipv6, Either };

Says saysOfEtherType(std::uint16_t etherType) {
    switch (etherType) {
        case EtherTypeIpv4:
            return Says::Ipv4;
        case EtherTypeIpv6:
            return Says::Ipv6;
        default:
            return Says::Neither;
    }
}

// The datagram at `offset` when the link header allows its version and the rest starts as one.
std::optional<IpInFrame> datagramAt(std::size_t offset, Says says, const std::uint8_t* frame,
                                    std::size_t length) {
    if (says == Says::Neither || offset >= length) {
        return std::nullopt;
    }
    const unsigned version = frame[offset] >> 4;
    const bool allowed = (version == 4 && (says == Says::Ipv4 || says == Says::Either)) ||
                         (version == 6 && (says == Says::Ipv6 || says == Says::Either));
    if (!allowed) {
        return std::nullopt;
    }
    return IpInFrame{offset, ipDatagramLength(frame + offset, length - offset)};
}

// The datagram after an EtherType field at `typeOffset` and any 802.1Q / 802.1ad tags that
// follow it, each four bytes ending in the next EtherType.
std::optional<IpInFrame> datagramAfterType(std::size_t typeOffset, const std::uint8_t* frame,
                                           std::size_t length) {
    while (typeOffset + 2 <= length && isVlanTag(bigEndian16(frame + typeOffset))) {
        typeOffset += 4;
    }
    if (typeOffset + 2 > length) {
        return std::nullopt;
    }
    return datagramAt(typeOffset + 2, saysOfEtherType(bigEndian16(frame + typeOffset)), frame,
                      length);
}

}  // namespace

std::size_t ipDatagramLength(const std::uint8_t* datagram, std::size_t received) {
    if (received >= 40 && (datagram[0] >> 4) == 6) {
        // A payload length of 0 is a jumbogram's, whose length lies in an option.
        const std::size_t payloadLength = bigEndian16(datagram + 4);
        return payloadLength > 0 && 40 + payloadLength < received ? 40 + payloadLength : received;
    }
    if (received < 20 || (datagram[0] >> 4) != 4) {
        return received;
    }
    const std::size_t totalLength = bigEndian16(datagram + 2);
    return totalLength >= 20 && totalLength < received ? totalLength : received;
}

bool linkTypeIsKnown(int linkType) {
    switch (static_cast<LinkType>(linkType)) {
        case LinkType::Null:
        case LinkType::Ethernet:
        case LinkType::Raw:
        case LinkType::Loop:
        case LinkType::LinuxCooked:
        case LinkType::Ipv4:
        case LinkType::Ipv6:
        case LinkType::LinuxCooked2:
            return true;
    }
    return false;
}

std::optional<IpInFrame> ipInFrame(int linkType, const std::uint8_t* frame, std::size_t length) {
    switch (static_cast<LinkType>(linkType)) {
        case LinkType::Raw:
            return datagramAt(0, Says::Either, frame, length);
        case LinkType::Ipv4:
            return datagramAt(0, Says::Ipv4, frame, length);
        case LinkType::Ipv6:
            return datagramAt(0, Says::Ipv6, frame, length);
        case LinkType::Null:
        case LinkType::Loop: {
            if (length < 4) {
                return std::nullopt;
            }
            // The family is in the byte order of the machine that wrote the file.
            const std::uint32_t family = bigEndian32(frame);
            const std::uint32_t swapped =
                (family >> 24) | (family >> 8 & 0xFF00) | (family << 8 & 0xFF0000) | (family << 24);
            Says says = Says::Neither;
            if (family == AddressFamilyInet || swapped == AddressFamilyInet) {
                says = Says::Ipv4;
            } else if (isInet6Family(family) || isInet6Family(swapped)) {
                says = Says::Ipv6;
            }
            return datagramAt(4, says, frame, length);
        }
        case LinkType::Ethernet:
            return datagramAfterType(12, frame, length);
        case LinkType::LinuxCooked:
            // Linux puts a frame's VLAN tags back after the protocol field, as Ethernet has them.
            return datagramAfterType(14, frame, length);
        case LinkType::LinuxCooked2:
            if (length < 20) {
                return std::nullopt;
            }
            return datagramAt(20, saysOfEtherType(bigEndian16(frame)), frame, length);
    }
    return std::nullopt;
}

int linkTypeOfFileValue(std::uint32_t fileValue) {
    constexpr std::uint32_t FileLinkTypeRaw = 101;
    const std::uint32_t linkType = fileValue & 0x03FFFFFF;
    return linkType == FileLinkTypeRaw ? static_cast<int>(LinkType::Raw)
                                       : static_cast<int>(linkType);
}

}  // namespace qhs
