#pragma once

#include <cstdint>
#include <string_view>

#include "app/SettingsRecord.h"

namespace qhs {

// The tests by which the file capture thread keeps a datagram: a TCP segment that carries
// data and a non-zero acknowledgement number and passes the window's four address and
// four port filters. The filters are taken once, when capture starts; 0 (a blank or
// 0.0.0.0 address, port 0) leaves a filter out of force.
class FileSegmentFilter {
  public:
    explicit FileSegmentFilter(const SettingsRecord& settings);

    // Tests the datagram in this order: its length (40 to 262144), the addresses, the
    // ports, the protocol, the data, the acknowledgement number. For IPv6 (whose addresses
    // the IPv4 filters never name) an address that must be there refuses it.
    bool accepts(const std::uint8_t* datagram, std::size_t length) const;

  private:
    std::uint32_t sourceMust_;
    std::uint32_t sourceMustNot_;
    std::uint32_t destinationMust_;
    std::uint32_t destinationMustNot_;
    std::uint16_t sourcePortMust_;
    std::uint16_t sourcePortMustNot_;
    std::uint16_t destinationPortMust_;
    std::uint16_t destinationPortMustNot_;
};

// An address filter's text as inet_addr reads it, in network byte order: blank is 0, a
// dotted quad its address, anything else 255.255.255.255 (which no sender has).
std::uint32_t filterAddress(std::string_view text);

// The datagram's own length: the captured length, cut to the IP total length (IPv6: payload
// length plus 40) when that is shorter, so the padding that a link adds to a short frame is not
// taken for data.
std::size_t datagramLength(const std::uint8_t* datagram, std::size_t capturedLength);

// The acknowledgement number as its raw 4 bytes, the key of its stream: at offset 28 of an
// IPv4 datagram, 8 bytes into the TCP header of an IPv6 one; 0 past `length`.
std::uint32_t streamKeyOf(const std::uint8_t* datagram, std::size_t length);

}  // namespace qhs
