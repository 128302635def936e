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
// length. The IP header is always taken as 20 bytes (options are not skipped), and every
// field is read at its fixed offset in network byte order.
//
// A field that does not lie wholly inside the captured length reads as 0, so the view
// reads only the datagram's own bytes: the values never depend on what follows the
// datagram in its block, and a view is safe over a buffer of exactly the captured length.
class DatagramView {
  public:
    static constexpr std::uint8_t ProtocolIcmp = 1;
    static constexpr std::uint8_t ProtocolTcp = 6;
    static constexpr std::uint8_t ProtocolUdp = 17;
    static constexpr std::uint32_t IpHeaderLength = 20;
    static constexpr std::uint32_t MinimumTcpNavigableLength = 40;

    // A null `data` is a slot without data, whatever the length says.
    DatagramView(const std::uint8_t* data, std::uint32_t capturedLength)
        : data_(data), length_(data == nullptr ? 0 : capturedLength) {}

    const std::uint8_t* data() const { return data_; }
    std::uint32_t capturedLength() const { return length_; }

    bool hasData() const { return length_ > 0; }
    // Holds data and at least a whole IP header: the detail view's condition.
    bool isDecodable() const { return length_ >= IpHeaderLength; }
    // At least an IP header and a minimal TCP header; the protocol is not looked at.
    bool isTcpNavigable() const { return length_ >= MinimumTcpNavigableLength; }

    std::uint16_t totalLength() const { return read16(2); }
    std::uint8_t ttl() const { return read8(8); }
    std::uint8_t protocol() const { return read8(9); }
    std::uint16_t headerChecksum() const { return read16(10); }
    bool isTcp() const { return protocol() == ProtocolTcp; }
    bool isUdp() const { return protocol() == ProtocolUdp; }
    bool hasPorts() const { return isTcp() || isUdp(); }

    // Addresses as their four bytes (first byte = first number of the dotted form), as
    // the 32-bit value in network byte order that inet_addr gives, and as dotted text.
    std::array<std::uint8_t, 4> sourceAddressBytes() const { return readBytes4(12); }
    std::array<std::uint8_t, 4> destinationAddressBytes() const { return readBytes4(16); }
    std::uint32_t sourceAddress() const { return readRaw32(12); }
    std::uint32_t destinationAddress() const { return readRaw32(16); }
    std::string sourceAddressText() const { return addressText(sourceAddressBytes()); }
    std::string destinationAddressText() const { return addressText(destinationAddressBytes()); }

    // Ports of TCP and UDP datagrams; 0 for every other protocol.
    std::uint16_t sourcePort() const { return hasPorts() ? read16(20) : 0; }
    std::uint16_t destinationPort() const { return hasPorts() ? read16(22) : 0; }

    // TCP fields, read whatever the protocol byte says (sequence navigation reads them of
    // every datagram of at least 40 bytes); callers that show them check isTcp().
    std::uint32_t tcpSequence() const { return read32(24); }
    std::uint32_t tcpAcknowledgement() const { return read32(28); }
    // The data offset of byte 32 in bytes: 0 to 60.
    std::uint32_t tcpHeaderLength() const { return static_cast<std::uint32_t>(read8(32) >> 4) * 4; }
    TcpFlags tcpFlags() const;
    std::uint16_t tcpWindow() const { return read16(34); }

    // First byte of the packet data: 20 + TCP header length for TCP, 28 for UDP and ICMP
    // (an 8-byte header after the IP header), 20 for every other protocol.
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
    std::uint32_t readRaw32(std::uint32_t offset) const;

    const std::uint8_t* data_;
    std::uint32_t length_;
};

}  // namespace qhs
