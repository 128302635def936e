#include "capture/PacketList.h"

#include "capture/PacketStore.h"

namespace qhs {

// Room for a row per store slot, taken once: growing by copying would stall the capture
// thread on a copy of up to 8 MB and on fresh pages while it holds the list guard.
PacketList::PacketList(SlabMemory& memory) : rows_(memory, PacketStoreCapacity) {
    texts_.emplace_back();
}

std::uint32_t PacketList::internTexts(std::string_view contains, std::string_view lacks) {
    if (contains.empty() && lacks.empty()) {
        return 0;
    }
    // Rows mostly repeat the texts of the row before: check those first, without hashing.
    const FilterTexts& last = texts_.back();
    if (texts_.size() > 1 && last.contains == contains && last.lacks == lacks) {
        return static_cast<std::uint32_t>(texts_.size() - 1);
    }
    std::string key;
    key.reserve(contains.size() + 1 + lacks.size());
    key.append(contains).push_back('\0');
    key.append(lacks);
    const auto [entry, added] =
        textIndex_.try_emplace(std::move(key), static_cast<std::uint32_t>(texts_.size()));
    if (added) {
        texts_.push_back(FilterTexts{std::string(contains), std::string(lacks)});
    }
    return entry->second;
}

std::int32_t PacketList::insertRow(std::int32_t index, std::int32_t slot, std::string_view contains,
                                   std::string_view lacks) {
    // A row per store slot: a full list takes no more.
    if (rows_.size() == rows_.capacity()) {
        return -1;
    }
    const PacketRow row{slot, internTexts(contains, lacks)};
    if (index < 0 || index >= rowCount()) {
        rows_.pushBack(row);
        return rowCount() - 1;
    }
    rows_.insert(static_cast<std::size_t>(index), row);
    ++changes_;
    return index;
}

void PacketList::clear() {
    rows_.clear();
    texts_.resize(1);
    textIndex_.clear();
    ++changes_;
}

void PacketList::removeRow(std::int32_t row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    rows_.erase(static_cast<std::size_t>(row));
    ++changes_;
}

void PacketList::reorder(std::span<const PacketRow> rows) {
    rows_.assign(rows);
    ++changes_;
}

}  // namespace qhs
