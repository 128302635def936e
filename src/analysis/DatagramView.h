#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qhs {

// The six TCP flags of byte 33; its two top bits play no part.
struct TcpFlags {
    bool urgent = false;
    bool acknowledgement = false;
    bool push = false;
    bool reset = false;
    bool synchronize = false;
    bool finish = false;
};

// A read-only view of one stored datagram: its bytes (IP header first) and its captured
// length. An IPv4 header is always taken as 20 bytes (options are not skipped); an IPv6
// datagram (version 6) has its upper-layer header after the chain of extension headers (see
// Ipv6View). Every field is read at its offset in network byte order.
//
// A field that does not lie wholly inside the captured length reads as 0, so the view
// reads only the datagram's own bytes: the values never depend on what follows the
// datagram in its block, and a view is safe over a buffer of exactly the captured length.
class DatagramView {
  public:
    static constexpr std::uint8_t ProtocolIcmp = 1;
    static constexpr std::uint8_t ProtocolTcp = 6;
    static constexpr std::uint8_t ProtocolUdp = 17;
    static constexpr std::uint8_t ProtocolIcmpv6 = 58;
    static constexpr std::uint32_t IpHeaderLength = 20;
    static constexpr std::uint32_t Ipv6HeaderLength = 40;
    static constexpr std::uint32_t MinimumTcpNavigableLength = 40;

    // A null `data` is a slot without data, whatever the length says.
    DatagramView(const std::uint8_t* data, std::uint32_t capturedLength)
        : data_(data), length_(data == nullptr ? 0 : capturedLength) {
        if (length_ > 0 && (data_[0] >> 4) == 6) {
            decodeIpv6();
        }
    }

    const std::uint8_t* data() const { return data_; }
    std::uint32_t capturedLength() const { return length_; }

    bool hasData() const { return length_ > 0; }
    // Version 6 in the first byte; every other version is read as IPv4.
    bool isIpv6() const { return ipv6_; }
    // Holds data and at least a whole IP header (20 bytes, 40 for IPv6): the detail view's
    // condition.
    bool isDecodable() const { return length_ >= (ipv6_ ? Ipv6HeaderLength : IpHeaderLength); }
    // At least an IP header and a minimal TCP header; the protocol is not looked at.
    bool isTcpNavigable() const { return length_ >= upperOffset_ + 20; }

    // Where the upper-layer header starts: 20 for IPv4, after the extension headers for IPv6.
    std::uint32_t upperOffset() const { return upperOffset_; }
    // The offset of the byte that names the upper-layer protocol (IPv4's protocol field, or
    // the next-header field of the last IPv6 header).
    std::uint32_t protocolByteOffset() const { return protocolByteOffset_; }

    // The datagram's length as its header gives it: IPv4's total length, or IPv6's payload
    // length plus the fixed header.
    std::uint32_t totalLength() const { return ipv6_ ? Ipv6HeaderLength + read16(4) : read16(2); }
    // IPv4's time to live, IPv6's hop limit.
    std::uint8_t ttl() const { return read8(ipv6_ ? 7 : 8); }
    // The upper-layer protocol; for IPv6 the one the chain of extension headers ends in.
    std::uint8_t protocol() const { return ipv6_ ? ipv6Protocol_ : read8(9); }
    std::uint16_t headerChecksum() const { return ipv6_ ? 0 : read16(10); }
    // IPv6's 20-bit flow label; 0 for IPv4.
    std::uint32_t flowLabel() const;
    bool isTcp() const { return protocol() == ProtocolTcp; }
    bool isUdp() const { return protocol() == ProtocolUdp; }
    // TCP and UDP carry ports, except in an IPv6 fragment after the first.
    bool hasPorts() const { return (isTcp() || isUdp()) && !laterFragment_; }

    // IPv4 addresses as their four bytes (first byte = first number of the dotted form), as
    // the 32-bit value in network byte order that inet_addr gives, and as dotted text. An IPv6
    // datagram reads 0 here: no IPv4 address is its.
    std::array<std::uint8_t, 4> sourceAddressBytes() const {
        return ipv6_ ? std::array<std::uint8_t, 4>{} : readBytes4(12);
    }
    std::array<std::uint8_t, 4> destinationAddressBytes() const {
        return ipv6_ ? std::array<std::uint8_t, 4>{} : readBytes4(16);
    }
    std::uint32_t sourceAddress() const { return ipv6_ ? 0 : readRaw32(12); }
    std::uint32_t destinationAddress() const { return ipv6_ ? 0 : readRaw32(16); }
    // IPv6 addresses as their 16 bytes; zeros for IPv4.
    std::array<std::uint8_t, 16> sourceAddress6() const { return readBytes16(8); }
    std::array<std::uint8_t, 16> destinationAddress6() const { return readBytes16(24); }
    // Dotted text for IPv4, RFC 5952 text for IPv6.
    std::string sourceAddressText() const;
    std::string destinationAddressText() const;

    // Ports of TCP and UDP datagrams; 0 for every other protocol.
    std::uint16_t sourcePort() const { return hasPorts() ? read16(upperOffset_) : 0; }
    std::uint16_t destinationPort() const { return hasPorts() ? read16(upperOffset_ + 2) : 0; }

    // TCP fields, read whatever the protocol byte says (sequence navigation reads them of
    // every datagram of at least 40 bytes); callers that show them check isTcp().
    std::uint32_t tcpSequence() const { return read32(upperOffset_ + 4); }
    std::uint32_t tcpAcknowledgement() const { return read32(upperOffset_ + 8); }
    // The data offset of byte 12 of the TCP header in bytes: 0 to 60.
    std::uint32_t tcpHeaderLength() const {
        return static_cast<std::uint32_t>(read8(upperOffset_ + 12) >> 4) * 4;
    }
    TcpFlags tcpFlags() const;
    std::uint16_t tcpWindow() const { return read16(upperOffset_ + 14); }

    // First byte of the packet data: the upper-layer offset (20 for IPv4), plus the TCP
    // header length for TCP, plus 8 for UDP, ICMP and ICMPv6 (an 8-byte header), plus
    // nothing for every other protocol and for a later IPv6 fragment.
    std::uint32_t payloadOffset() const;
    // From payloadOffset to the captured length; empty when the offset is at or beyond it.
    std::span<const std::uint8_t> payload() const;

    // The payload as find and the string filters search it (see makeSearchText), in the
    // caller's buffer.
    std::string_view searchText(std::string& buffer, bool foldCase) const;

    static std::string addressText(const std::array<std::uint8_t, 4>& bytes);
    // Dotted text of an address held in network byte order, as the address lists hold it.
    static std::string addressText(std::uint32_t networkOrderAddress);

  private:
    bool holds(std::uint32_t offset, std::uint32_t width) const {
        return offset + width <= length_;
    }
    std::uint8_t read8(std::uint32_t offset) const { return holds(offset, 1) ? data_[offset] : 0; }
    std::uint16_t read16(std::uint32_t offset) const {
        if (!holds(offset, 2)) {
            return 0;
        }
        return static_cast<std::uint16_t>((data_[offset] << 8) | data_[offset + 1]);
    }
    std::uint32_t read32(std::uint32_t offset) const {
        if (!holds(offset, 4)) {
            return 0;
        }
        return (std::uint32_t{data_[offset]} << 24) | (std::uint32_t{data_[offset + 1]} << 16) |
               (std::uint32_t{data_[offset + 2]} << 8) | std::uint32_t{data_[offset + 3]};
    }
    std::array<std::uint8_t, 4> readBytes4(std::uint32_t offset) const;
    std::array<std::uint8_t, 16> readBytes16(std::uint32_t offset) const;
    std::uint32_t readRaw32(std::uint32_t offset) const;
    void decodeIpv6();

    const std::uint8_t* data_;
    std::uint32_t length_;
    bool ipv6_ = false;
    bool laterFragment_ = false;
    std::uint8_t ipv6Protocol_ = 0;
    std::uint32_t upperOffset_ = IpHeaderLength;
    std::uint32_t protocolByteOffset_ = 9;
};

}  // namespace qhs
