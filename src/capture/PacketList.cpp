#include "capture/PacketList.h"

#include <new>

#include "capture/PacketStore.h"

namespace qhs {

PacketList::PacketList() {
    texts_.emplace_back();
    reserveRows();
}

void PacketList::reserveRows() {
    // Room for a row per store slot, taken once: growing by copying would stall the capture
    // thread on a copy of up to 8 MB and on fresh pages while it holds the list guard. The
    // room costs no memory until rows are written into it.
    rows_.reserve(PacketStoreCapacity);
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
    const PacketRow row{slot, internTexts(contains, lacks)};
    if (index < 0 || index >= rowCount()) {
        rows_.push_back(row);
        return rowCount() - 1;
    }
    rows_.insert(rows_.begin() + index, row);
    ++changes_;
    return index;
}

void PacketList::clear() {
    std::vector<PacketRow>().swap(rows_);
    reserveRows();
    texts_.resize(1);
    textIndex_.clear();
    ++changes_;
}

void PacketList::removeRow(std::int32_t row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    rows_.erase(rows_.begin() + row);
    ++changes_;
}

void PacketList::reorder(std::vector<PacketRow> rows) {
    rows_ = std::move(rows);
    reserveRows();
    ++changes_;
}

}  // namespace qhs
