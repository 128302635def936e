#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qhs {

// A port name table: one entry for every port 0..65535, each either empty or a constant
// service description (Windows-1252 bytes). The two tables, `TcpPortNameTable` and
// `UdpPortNameTable`, are generated at build time from data/port-numbers-2003.txt and
// data/port-name-overrides.txt; they are constant from the start of the process, so nothing
// has to build them and any thread may read them.
//
// A lookup is two array reads: the port indexes an array of name numbers, which index one
// shared array of names. Every name text is a NUL-terminated constant, so `name(p).data()`
// may also be used as a C string; an empty entry gives the empty text "".
class PortNameTable {
  public:
    static constexpr std::size_t EntryCount = 65536;

    // `nameNumbers` has EntryCount elements, each an index into `names`; names[0] is "".
    constexpr PortNameTable(const std::uint16_t* nameNumbers, const std::string_view* names,
                            std::size_t namedPortCount, std::uint16_t highestNamedPort) noexcept
        : nameNumbers_(nameNumbers),
          names_(names),
          namedPortCount_(namedPortCount),
          highestNamedPort_(highestNamedPort) {}

    // The port's name, or the empty text when its entry is empty.
    std::string_view name(std::uint16_t port) const noexcept { return names_[nameNumbers_[port]]; }
    bool hasName(std::uint16_t port) const noexcept { return nameNumbers_[port] != 0; }

    std::size_t namedPortCount() const noexcept { return namedPortCount_; }
    std::uint16_t highestNamedPort() const noexcept { return highestNamedPort_; }

  private:
    const std::uint16_t* nameNumbers_;
    const std::string_view* names_;
    std::size_t namedPortCount_;
    std::uint16_t highestNamedPort_;
};

extern const PortNameTable TcpPortNameTable;
extern const PortNameTable UdpPortNameTable;

// What the detail view shows for a port whose entry is empty.
inline constexpr std::string_view UnknownPortName = "Unknown";

// The port's name, or the empty text when the table has none for it.
inline std::string_view tcpPortName(std::uint16_t port) noexcept {
    return TcpPortNameTable.name(port);
}
inline std::string_view udpPortName(std::uint16_t port) noexcept {
    return UdpPortNameTable.name(port);
}

// The text of a "use:" field of the packet detail view: for protocol 6 the TCP name of the port,
// for protocol 17 the UDP name, in both cases "Unknown" for an empty entry; the empty text for
// every other protocol.
std::string_view portUseText(std::uint8_t protocol, std::uint16_t port) noexcept;

}  // namespace qhs
