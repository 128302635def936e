#include "capture/LinkLayer.h"

namespace qhs {

namespace {

constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
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

// The offset of the datagram when the link header says IPv4 and the rest starts as one.
std::optional<Ipv4InFrame> datagramAt(std::size_t offset, bool saysIpv4, const std::uint8_t* frame,
                                      std::size_t length) {
    if (!saysIpv4 || offset >= length || (frame[offset] >> 4) != 4) {
        return std::nullopt;
    }
    return Ipv4InFrame{offset, ipDatagramLength(frame + offset, length - offset)};
}

// The datagram after an EtherType field at `typeOffset` and any 802.1Q / 802.1ad tags that
// follow it, each four bytes ending in the next EtherType.
std::optional<Ipv4InFrame> datagramAfterType(std::size_t typeOffset, const std::uint8_t* frame,
                                             std::size_t length) {
    while (typeOffset + 2 <= length && isVlanTag(bigEndian16(frame + typeOffset))) {
        typeOffset += 4;
    }
    if (typeOffset + 2 > length) {
        return std::nullopt;
    }
    return datagramAt(typeOffset + 2, bigEndian16(frame + typeOffset) == EtherTypeIpv4, frame,
                      length);
}

}  // namespace

std::size_t ipDatagramLength(const std::uint8_t* datagram, std::size_t received) {
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
        case LinkType::LinuxCooked2:
            return true;
    }
    return false;
}

std::optional<Ipv4InFrame> ipv4InFrame(int linkType, const std::uint8_t* frame,
                                       std::size_t length) {
    switch (static_cast<LinkType>(linkType)) {
        case LinkType::Raw:
        case LinkType::Ipv4:
            return datagramAt(0, true, frame, length);
        case LinkType::Null:
        case LinkType::Loop: {
            if (length < 4) {
                return std::nullopt;
            }
            // The family is in the byte order of the machine that wrote the file.
            const std::uint32_t family = bigEndian32(frame);
            const bool inet = family == AddressFamilyInet || family == AddressFamilyInet << 24;
            return datagramAt(4, inet, frame, length);
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
            return datagramAt(20, bigEndian16(frame) == EtherTypeIpv4, frame, length);
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
