#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qhs {

// One extension header of an IPv6 datagram: its type (the next-header value that named it)
// and where it lies.
struct Ipv6Extension {
    std::uint8_t type = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// A read-only view of an IPv6 datagram: the fixed 40-byte header, then the chain of extension
// headers (hop-by-hop options, routing, fragment, destination options, authentication) up to
// the upper-layer protocol. The chain stops at ESP, at "no next header" and at anything it does
// not know; a header whose length runs past the captured bytes ends it there, as malformed.
// Nothing is read beyond the captured length, whatever the bytes say.
class Ipv6View {
  public:
    static constexpr std::uint32_t FixedHeaderLength = 40;
    static constexpr std::uint8_t HopByHopOptions = 0;
    static constexpr std::uint8_t Routing = 43;
    static constexpr std::uint8_t Fragment = 44;
    static constexpr std::uint8_t EncapsulatingSecurity = 50;
    static constexpr std::uint8_t Authentication = 51;
    static constexpr std::uint8_t NoNextHeader = 59;
    static constexpr std::uint8_t DestinationOptions = 60;
    // More than this many extension headers is taken as malformed (RFC 8200 allows each at
    // most once or twice).
    static constexpr std::size_t MostExtensions = 8;

    Ipv6View(const std::uint8_t* data, std::uint32_t capturedLength);

    // Version 6 and the whole fixed header captured.
    bool isDecodable() const { return decodable_; }

    std::uint8_t trafficClass() const;
    std::uint32_t flowLabel() const;
    std::uint16_t payloadLength() const { return read16(4); }
    std::uint8_t nextHeader() const { return read8(6); }
    std::uint8_t hopLimit() const { return read8(7); }
    std::array<std::uint8_t, 16> sourceAddress() const { return read16Bytes(8); }
    std::array<std::uint8_t, 16> destinationAddress() const { return read16Bytes(24); }

    // The extension headers in order, `extensionCount()` of them.
    const Ipv6Extension& extension(std::size_t index) const { return extensions_[index]; }
    std::size_t extensionCount() const { return extensionCount_; }
    // The protocol after the last extension header (6 TCP, 17 UDP, 58 ICMPv6, or where the
    // chain stopped: 50, 59 or an unknown value) and where its header starts.
    std::uint8_t upperProtocol() const { return upperProtocol_; }
    std::uint32_t upperOffset() const { return upperOffset_; }
    // False when a header's length ran past the captured bytes or the chain was too long:
    // upperProtocol() and upperOffset() are then those of the last sound header.
    bool chainIsSound() const { return chainSound_; }
    // A fragment after the first: it holds no upper-layer header, so no ports.
    bool isLaterFragment() const { return laterFragment_; }

  private:
    std::uint8_t read8(std::uint32_t offset) const { return offset < length_ ? data_[offset] : 0; }
    std::uint16_t read16(std::uint32_t offset) const {
        return static_cast<std::uint16_t>(read8(offset) << 8 | read8(offset + 1));
    }
    std::array<std::uint8_t, 16> read16Bytes(std::uint32_t offset) const;
    void walkChain();

    const std::uint8_t* data_;
    std::uint32_t length_;
    bool decodable_ = false;
    std::array<Ipv6Extension, MostExtensions> extensions_{};
    std::size_t extensionCount_ = 0;
    std::uint8_t upperProtocol_ = NoNextHeader;
    std::uint32_t upperOffset_ = FixedHeaderLength;
    bool chainSound_ = true;
    bool laterFragment_ = false;
};

// An IPv6 address as RFC 5952 writes it: lower-case hexadecimal without leading zeros, the
// longest run of two or more zero fields (the first of equals) as "::"; an IPv4-mapped or
// -compatible address ends in its dotted IPv4 form, as tcpdump and inet_ntop write it.
std::string ipv6AddressText(const std::array<std::uint8_t, 16>& address);

}  // namespace qhs
