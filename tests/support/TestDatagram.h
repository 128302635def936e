#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace qhs::test {

// Spare bytes after each datagram in a stored block.
inline constexpr std::uint32_t SpareBytes = 44;

inline std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Builds IPv4 datagrams byte by byte: a 20-byte IP header, then for TCP a header of
// `tcpHeaderLength` bytes, for UDP and ICMP 8 bytes, then the payload. Given a `size`, the
// datagram is cut or padded with zeros to it, and a field that does not fit whole (the IP
// header, the two ports, the TCP data offset) is left out, so short datagrams stay zeros.
struct TestDatagram {
    std::uint8_t protocol = 6;
    std::uint32_t source = address(10, 0, 0, 1);
    std::uint32_t destination = address(10, 0, 0, 2);
    std::uint16_t sourcePort = 1024;
    std::uint16_t destinationPort = 80;
    std::uint32_t tcpHeaderLength = 20;
    std::vector<std::uint8_t> payload;
    int totalLength = -1;  // the IP total length field; -1 = the datagram's size
    int size = -1;         // bytes in all; -1 = as built

    TestDatagram& withPayload(std::string_view text) {
        payload.assign(text.begin(), text.end());
        return *this;
    }

    std::vector<std::uint8_t> bytes() const {
        const std::size_t transport = protocol == 6                       ? tcpHeaderLength
                                      : (protocol == 17 || protocol == 1) ? 8
                                                                          : 0;
        const std::size_t payloadAt = 20 + transport;
        std::vector<std::uint8_t> out(
            size < 0 ? payloadAt + payload.size() : static_cast<std::size_t>(size), 0);
        if (out.size() > payloadAt && !payload.empty()) {
            const std::size_t copied = std::min(payload.size(), out.size() - payloadAt);
            std::memcpy(&out[payloadAt], payload.data(), copied);
        }
        if (out.size() < 20) {
            return out;
        }
        const auto length = static_cast<std::uint16_t>(totalLength < 0 ? out.size() : totalLength);
        out[0] = 0x45;
        out[2] = static_cast<std::uint8_t>(length >> 8);
        out[3] = static_cast<std::uint8_t>(length);
        out[8] = 64;
        out[9] = protocol;
        std::memcpy(&out[12], &source, 4);
        std::memcpy(&out[16], &destination, 4);
        if ((protocol == 6 || protocol == 17) && out.size() >= 24) {
            out[20] = static_cast<std::uint8_t>(sourcePort >> 8);
            out[21] = static_cast<std::uint8_t>(sourcePort);
            out[22] = static_cast<std::uint8_t>(destinationPort >> 8);
            out[23] = static_cast<std::uint8_t>(destinationPort);
        }
        if (protocol == 6 && tcpHeaderLength >= 20 && out.size() >= 33) {
            out[32] = static_cast<std::uint8_t>((tcpHeaderLength / 4) << 4);
        }
        return out;
    }
};

// The upper layer of an IPv4 datagram (everything after its 20-byte header) carried by IPv6
// from fd00::`sourceLast` to fd00::`destinationLast`, after `extensions`: whole extension
// headers whose first is of type `firstExtension` and whose last names the upper protocol.
inline std::vector<std::uint8_t> asIpv6(const std::vector<std::uint8_t>& ipv4,
                                        std::uint8_t sourceLast = 1,
                                        std::uint8_t destinationLast = 2,
                                        const std::vector<std::uint8_t>& extensions = {},
                                        std::uint8_t firstExtension = 0) {
    // Built at its full size: GCC 12 warns falsely on inserting into a short vector.
    const std::size_t upper = ipv4.size() > 20 ? ipv4.size() - 20 : 0;
    std::vector<std::uint8_t> out(40 + extensions.size() + upper, 0);
    for (std::size_t index = 0; index < extensions.size(); ++index) {
        out[40 + index] = extensions[index];
    }
    for (std::size_t index = 0; index < upper; ++index) {
        out[40 + extensions.size() + index] = ipv4[20 + index];
    }
    const std::size_t payloadLength = out.size() - 40;
    out[0] = 0x60;
    out[4] = static_cast<std::uint8_t>(payloadLength >> 8);
    out[5] = static_cast<std::uint8_t>(payloadLength);
    out[6] = extensions.empty() ? ipv4[9] : firstExtension;
    out[7] = 64;
    out[8] = out[24] = 0xFD;
    out[23] = sourceLast;
    out[39] = destinationLast;
    return out;
}

inline std::vector<std::uint8_t> asIpv6(const TestDatagram& datagram, std::uint8_t sourceLast = 1,
                                        std::uint8_t destinationLast = 2,
                                        const std::vector<std::uint8_t>& extensions = {},
                                        std::uint8_t firstExtension = 0) {
    return asIpv6(datagram.bytes(), sourceLast, destinationLast, extensions, firstExtension);
}

// A packet block as the store keeps it: exactly length + 44 bytes from new[], so the
// address sanitizer reports any read past its end; the spare bytes hold `spareFill`.
class Block {
  public:
    explicit Block(const std::vector<std::uint8_t>& datagram, std::uint8_t spareFill = 0)
        : length_(static_cast<std::uint32_t>(datagram.size())),
          bytes_(new std::uint8_t[datagram.size() + SpareBytes]) {
        if (!datagram.empty()) {
            std::memcpy(bytes_.get(), datagram.data(), datagram.size());
        }
        std::memset(bytes_.get() + length_, spareFill, SpareBytes);
    }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint32_t length() const { return length_; }

  private:
    std::uint32_t length_;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace qhs::test

namespace qhs {

// A datagram of exactly `length` bytes from 10.0.0.1 to 10.0.0.2, zeros after its headers.
inline std::vector<std::uint8_t> makeDatagram(std::uint8_t protocol, std::size_t length,
                                              std::uint16_t sourcePort = 0,
                                              std::uint16_t destinationPort = 0) {
    test::TestDatagram datagram;
    datagram.protocol = protocol;
    datagram.sourcePort = sourcePort;
    datagram.destinationPort = destinationPort;
    datagram.size = static_cast<int>(length);
    return datagram.bytes();
}

}  // namespace qhs
