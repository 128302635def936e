#include "packetmode/PacketRowLookup.h"

#include <algorithm>

namespace qhs {

std::int32_t findRowOfSlot(const PacketList& list, std::int32_t slot, std::int32_t rowHint) {
    const std::int32_t count = list.rowCount();
    if (count == 0) {
        return -1;
    }
    const std::int32_t start = std::clamp(rowHint, 0, count - 1);
    for (std::int32_t row = start; row >= 0; --row) {
        if (list.row(row).slot == slot) {
            return row;
        }
    }
    for (std::int32_t row = start + 1; row < count; ++row) {
        if (list.row(row).slot == slot) {
            return row;
        }
    }
    return -1;
}

bool removeRowOfSlot(PacketList& list, std::int32_t slot, std::int32_t row) {
    const std::int32_t found = findRowOfSlot(list, slot, row);
    if (found < 0) {
        return false;
    }
    list.removeRow(found);
    return true;
}

}  // namespace qhs
