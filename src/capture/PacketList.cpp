#include "capture/PacketList.h"

#include <new>

namespace qhs {

PacketList::PacketList() {
    texts_.emplace_back();
}

std::uint32_t PacketList::internTexts(std::string_view contains, std::string_view lacks) {
    if (contains.empty() && lacks.empty()) {
        return 0;
    }
    const FilterTexts& last = texts_.back();
    if (texts_.size() > 1 && last.contains == contains && last.lacks == lacks) {
        return static_cast<std::uint32_t>(texts_.size() - 1);
    }
    texts_.push_back(FilterTexts{std::string(contains), std::string(lacks)});
    return static_cast<std::uint32_t>(texts_.size() - 1);
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
    texts_.resize(1);
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
    ++changes_;
}

}  // namespace qhs
