#pragma once

#include <cstdint>

namespace qhs {

// The columns of the packet list, in the order the list shows them. The model, the sorter
// and the window's view all name them from here.
enum class PacketListColumn : std::int32_t {
    Type,
    Size,
    FromIp,
    ToIp,
    FromPort,
    ToPort,
    DateTime,
    ContainsString,
    LacksString,
};
inline constexpr std::int32_t PacketListColumnCount = 9;

inline constexpr bool isPacketListColumn(std::int32_t column) {
    return column >= 0 && column < PacketListColumnCount;
}

}  // namespace qhs
