#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qhs {

// A short name for every value 0..255 of the IP header's protocol field. Slot 0 holds the
// empty text, so protocol 0 shows as a blank type; every slot without a name holds
// `DefaultName`, the Windows-1252 bytes BF 3F ("¿?"). The table is constant data, built at
// compile time, so nothing has to build it and any thread may read it.
class ProtocolNameTable {
  public:
    static constexpr std::size_t SlotCount = 256;
    // Each slot is a 12-byte field holding a NUL-terminated name of at most 11 characters.
    static constexpr std::size_t SlotSize = 12;
    static constexpr std::string_view DefaultName{"\xBF\x3F", 2};

    // The protocol number is taken as unsigned: a protocol byte read as a negative `char`
    // (-56) converts to its unsigned value (200) on the way in. The text is NUL-terminated.
    static std::string_view name(std::uint8_t protocol) noexcept;
};

inline std::string_view protocolName(std::uint8_t protocol) noexcept {
    return ProtocolNameTable::name(protocol);
}

class DatagramView;

// The name of a datagram's upper-layer protocol: the table's, and "ICMPv6" for the ICMP of
// IPv6, a number the table of IPv4's protocols leaves unnamed.
std::string_view protocolNameOf(const DatagramView& datagram) noexcept;

}  // namespace qhs
