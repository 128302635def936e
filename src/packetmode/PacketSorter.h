#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/UserMessage.h"
#include "capture/PacketTable.h"
#include "packetmode/PacketListColumn.h"

namespace qhs {

// Above this many rows a sort by a filter text column asks first.
inline constexpr std::int32_t FilterTextSortWarningRows = 1000;

enum class SortResult {
    Sorted,        // the rows are in the new order and sortAscending has flipped
    Busy,          // the list guard was held: the click is lost, nothing changed
    Declined,      // the user answered No to the warning: nothing changed
    NoSuchColumn,  // not a column of the list: nothing changed
};

// The window's side of a sort.
struct SortHooks {
    // Puts the warning question for a long list (Yes/No; true for Yes), without the guard.
    std::function<bool(const UserMessage& question)> ask;
    // Takes the guard for the sort once the user has answered Yes (by access.tryLock() or
    // access.lock()), waiting as long as it is held; false gives the sort up (the window is
    // closing). Unset: a plain blocking lock.
    std::function<bool(PacketTable::Access& access)> waitForGuard;
    // Called with true before the sort takes the guard and with false once it has let it go.
    std::function<void(bool sorting)> sorting;
};

// Sorts the rows of the packet list by one column; the store is not touched. Columns 0 to 6
// sort by values decoded from the stored datagram (protocol number, IP total length,
// addresses as numbers, ports with 0 for protocols other than 6 and 17, the time text byte
// by byte), columns 7 and 8 by their filter texts byte by byte.
//
// The sort is stable in both directions: rows with equal keys keep their order. Rows whose
// slot holds no data (for columns 0 to 5) or no time text (column 6) have no key and sort
// below every row that has one, so they come last in a descending sort.
class PacketSorter {
  public:
    explicit PacketSorter(PacketTable& table);

    // A click on a column header, on the window's thread. Ignored while the list guard is
    // held. For columns 7 and 8 with more than 1000 rows, `ask` puts the warning question
    // (Yes/No; true for Yes) and is called without the guard; after a Yes the sort waits for
    // the guard and always happens. Every completed sort, whatever
    // its column, flips sortAscending: the first sort is descending.
    SortResult sortByColumn(std::int32_t column,
                            const std::function<bool(const UserMessage& question)>& ask);
    SortResult sortByColumn(std::int32_t column, const SortHooks& hooks);

    // The direction of the next sort; off when the window opens.
    bool sortAscending = false;

  private:
    PacketTable& table_;
};

// The rows of `list` in the order of one column, ascending or descending. The caller holds
// the list guard; the list itself is not changed.
std::vector<PacketRow> sortedRows(const PacketStore& store, const PacketList& list,
                                  std::int32_t column, bool ascending);

}  // namespace qhs
