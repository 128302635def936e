#pragma once

#include <cstdint>

#include "capture/PacketList.h"

namespace qhs {

// Looking up the list row that shows a store slot. The caller holds the list guard.

// The index of the row whose slot is `slot`, or -1 when no row shows it (its row was
// deleted). `rowHint` is where the row probably is; rows keep slot order until a sort, and
// deletes only move rows towards the top, so the search goes up from the hint first.
std::int32_t findRowOfSlot(const PacketList& list, std::int32_t slot, std::int32_t rowHint);
inline std::int32_t findRowOfSlot(const PacketList& list, std::int32_t slot) {
    return findRowOfSlot(list, slot, slot);
}

// Removes the row that shows `slot`, which the window last saw at `row`: the row may have
// moved while a question was open. Returns whether a row was removed.
bool removeRowOfSlot(PacketList& list, std::int32_t slot, std::int32_t row);

}  // namespace qhs
