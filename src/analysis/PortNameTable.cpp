#include "analysis/PortNameTable.h"

// The two table objects are defined in the generated PortNameTableData.cpp (build directory).

namespace qhs {

std::string_view portUseText(std::uint8_t protocol, std::uint16_t port) noexcept {
    std::string_view name;
    if (protocol == 6) {
        name = tcpPortName(port);
    } else if (protocol == 17) {
        name = udpPortName(port);
    } else {
        return "";
    }
    return name.empty() ? UnknownPortName : name;
}

}  // namespace qhs
