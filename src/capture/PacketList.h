#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/SlabArray.h"

namespace qhs {

// One row of the packet list: the store slot of its datagram and the filter texts it was
// accepted with. Rows never hold packet bytes.
struct PacketRow {
    std::int32_t slot = 0;
    std::uint32_t filterTexts = 0;  // index into PacketList's filter texts; 0 = both empty
};

struct FilterTexts {
    std::string contains;  // "Contains string" column
    std::string lacks;     // "Lacks string" column
};

// The rows of the packet list in display order. Every access happens under the list guard
// of the PacketTable that owns the list. The filter texts of a capture are mostly the same from row
// to row, so each distinct pair is kept once and rows refer to it by number.
//
// `changes` counts every change other than an append at the end (clear, sort, delete), so a
// view that copies rows in batches knows when to copy all of them again.
class PacketList {
  public:
    // Rows live in `memory`, room for a row per store slot taken at once.
    explicit PacketList(SlabMemory& memory = heapSlabMemory());

    // Inserts a row at `index`, or at the end when the index is past it; returns the row's
    // index.
    std::int32_t insertRow(std::int32_t index, std::int32_t slot, std::string_view contains,
                           std::string_view lacks);
    void clear();
    void removeRow(std::int32_t row);
    // Puts the rows in a new order (a permutation of the current rows).
    void reorder(std::span<const PacketRow> rows);

    std::int32_t rowCount() const { return static_cast<std::int32_t>(rows_.size()); }
    const PacketRow& row(std::int32_t index) const {
        return rows_[static_cast<std::size_t>(index)];
    }
    std::span<const PacketRow> rows() const { return rows_.values(); }
    std::size_t rowCapacity() const { return rows_.capacity(); }
    const FilterTexts& filterTexts(std::uint32_t index) const { return texts_[index]; }
    std::uint32_t filterTextCount() const { return static_cast<std::uint32_t>(texts_.size()); }
    std::uint64_t changes() const { return changes_; }

  private:
    std::uint32_t internTexts(std::string_view contains, std::string_view lacks);

    SlabArray<PacketRow> rows_;
    std::vector<FilterTexts> texts_;
    // Each distinct pair once: "contains\0lacks" to its index in texts_.
    std::unordered_map<std::string, std::uint32_t> textIndex_;
    std::uint64_t changes_ = 0;
};

}  // namespace qhs
