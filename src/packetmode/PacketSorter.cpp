#include "packetmode/PacketSorter.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <span>
#include <string_view>
#include <tuple>

#include "analysis/DatagramView.h"

namespace qhs {

namespace {

constexpr std::string_view FilterTextSortQuestion =
    "If the packet list contains many items, sorting the filter text columns may take a very "
    "(extremely) long time.\r\n\r\nContinue with operation?";
constexpr std::string_view FilterTextSortCaption = "Are you sure?";

// A numeric sort key is 33 bits: bit 32 says the row has a key, the low 32 bits hold it.
// Packed above a 31-bit row position it makes one 64-bit number per row, so one plain sort
// of numbers is a stable sort of the rows.
constexpr std::uint64_t KeyPresent = std::uint64_t{1} << 32;
constexpr std::uint64_t KeyMask = (std::uint64_t{1} << 33) - 1;
constexpr unsigned PositionBits = 31;
constexpr std::uint64_t PositionMask = (std::uint64_t{1} << PositionBits) - 1;

std::uint32_t bigEndian32Address(const std::array<std::uint8_t, 4>& bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::uint64_t datagramKey(const PacketStore& store, std::int32_t slot, PacketListColumn column) {
    const std::uint8_t* data = store.packet(slot);
    if (data == nullptr) {
        return 0;
    }
    const DatagramView datagram(data, store.length(slot));
    std::uint32_t value = 0;
    switch (column) {
        case PacketListColumn::Type:
            value = datagram.protocol();
            break;
        case PacketListColumn::Size:
            value = datagram.totalLength();
            break;
        case PacketListColumn::FromPort:
            value = datagram.sourcePort();
            break;
        case PacketListColumn::ToPort:
            value = datagram.destinationPort();
            break;
        default:
            break;
    }
    return KeyPresent | value;
}

// The rank of every filter text of one column among all of them, byte by byte; equal texts
// share a rank. There are few distinct texts, so the rows then sort by number.
std::vector<std::uint32_t> filterTextRanks(const PacketList& list, bool containsColumn) {
    const std::uint32_t count = list.filterTextCount();
    const auto textOf = [&](std::uint32_t index) -> const std::string& {
        const FilterTexts& texts = list.filterTexts(index);
        return containsColumn ? texts.contains : texts.lacks;
    };
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return textOf(a) < textOf(b); });
    std::vector<std::uint32_t> ranks(count);
    std::uint32_t rank = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0 && textOf(order[i]) != textOf(order[i - 1])) {
            ++rank;
        }
        ranks[order[i]] = rank;
    }
    return ranks;
}

template <typename KeyOf>
std::vector<PacketRow> sortByNumericKey(std::span<const PacketRow> rows, bool ascending,
                                        KeyOf keyOf) {
    std::vector<std::uint64_t> packed(rows.size());
    for (std::size_t position = 0; position < rows.size(); ++position) {
        const std::uint64_t key = keyOf(rows[position]);
        // Descending inverts the key but not the position, so ties keep their order.
        const std::uint64_t directed = ascending ? key : KeyMask - key;
        packed[position] = (directed << PositionBits) | position;
    }
    std::sort(packed.begin(), packed.end());
    std::vector<PacketRow> sorted(rows.size());
    for (std::size_t i = 0; i < packed.size(); ++i) {
        sorted[i] = rows[packed[i] & PositionMask];
    }
    return sorted;
}

// The time text as a key: its first 32 bytes as four big-endian numbers (zero padded; a
// time text holds no zero byte), the rest compared as text only when those are equal.
struct TimeKey {
    std::array<std::uint64_t, 4> prefix{};
    std::string_view rest;
    bool hasText = false;
    std::uint32_t position = 0;
};

TimeKey timeKey(std::string_view text, std::uint32_t position) {
    TimeKey key;
    key.position = position;
    key.hasText = !text.empty();
    const std::size_t prefixLength = std::min<std::size_t>(text.size(), 32);
    for (std::size_t i = 0; i < prefixLength; ++i) {
        key.prefix[i / 8] |= std::uint64_t{static_cast<std::uint8_t>(text[i])}
                             << (56 - 8 * (i % 8));
    }
    key.rest = text.substr(prefixLength);
    return key;
}

// -1, 0 or 1 as the keys of a and b compare, positions left out.
int compareTimeKeys(const TimeKey& a, const TimeKey& b) {
    if (a.hasText != b.hasText) {
        return a.hasText ? 1 : -1;
    }
    if (a.prefix != b.prefix) {
        return a.prefix < b.prefix ? -1 : 1;
    }
    const int rest = a.rest.compare(b.rest);  // char_traits<char> compares as unsigned bytes
    return rest < 0 ? -1 : (rest > 0 ? 1 : 0);
}

std::vector<PacketRow> sortByTime(const PacketStore& store, std::span<const PacketRow> rows,
                                  bool ascending) {
    std::vector<TimeKey> keys(rows.size());
    for (std::size_t position = 0; position < rows.size(); ++position) {
        keys[position] =
            timeKey(store.time(rows[position].slot), static_cast<std::uint32_t>(position));
    }
    std::sort(keys.begin(), keys.end(), [ascending](const TimeKey& a, const TimeKey& b) {
        const int order = compareTimeKeys(a, b);
        if (order != 0) {
            return ascending ? order < 0 : order > 0;
        }
        return a.position < b.position;
    });
    std::vector<PacketRow> sorted(rows.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        sorted[i] = rows[keys[i].position];
    }
    return sorted;
}

// An address as a sort key: rows without data first, then IPv4 addresses by their value,
// then IPv6 addresses by their bytes.
struct AddressKey {
    std::uint8_t family = 0;  // 0 no data, 1 IPv4, 2 IPv6
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint32_t position = 0;

    auto rank() const { return std::tie(family, high, low); }
};

std::uint64_t bigEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

AddressKey addressKey(const PacketStore& store, std::int32_t slot, bool source,
                      std::uint32_t position) {
    AddressKey key;
    key.position = position;
    const std::uint8_t* data = store.packet(slot);
    if (data == nullptr) {
        return key;
    }
    const DatagramView datagram(data, store.length(slot));
    if (datagram.isIpv6()) {
        const std::array<std::uint8_t, 16> bytes =
            source ? datagram.sourceAddress6() : datagram.destinationAddress6();
        key.family = 2;
        key.high = bigEndian64(bytes.data());
        key.low = bigEndian64(bytes.data() + 8);
    } else {
        key.family = 1;
        key.high = bigEndian32Address(source ? datagram.sourceAddressBytes()
                                             : datagram.destinationAddressBytes());
    }
    return key;
}

std::vector<PacketRow> sortByAddress(const PacketStore& store, std::span<const PacketRow> rows,
                                     bool source, bool ascending) {
    std::vector<AddressKey> keys(rows.size());
    for (std::size_t position = 0; position < rows.size(); ++position) {
        keys[position] =
            addressKey(store, rows[position].slot, source, static_cast<std::uint32_t>(position));
    }
    std::sort(keys.begin(), keys.end(), [ascending](const AddressKey& a, const AddressKey& b) {
        if (a.rank() != b.rank()) {
            return ascending ? a.rank() < b.rank() : a.rank() > b.rank();
        }
        return a.position < b.position;
    });
    std::vector<PacketRow> sorted(rows.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        sorted[i] = rows[keys[i].position];
    }
    return sorted;
}

// Takes the guard if it comes free within a short while; the window's thread must not
// wait for a long Clear or logging pass.
}  // namespace

std::vector<PacketRow> sortedRows(const PacketStore& store, const PacketList& list,
                                  std::int32_t columnIndex, bool ascending) {
    const std::span<const PacketRow> rows = list.rows();
    if (!isPacketListColumn(columnIndex)) {
        return {rows.begin(), rows.end()};
    }
    const auto column = static_cast<PacketListColumn>(columnIndex);
    if (column == PacketListColumn::DateTime) {
        return sortByTime(store, rows, ascending);
    }
    if (column == PacketListColumn::FromIp || column == PacketListColumn::ToIp) {
        return sortByAddress(store, rows, column == PacketListColumn::FromIp, ascending);
    }
    if (column == PacketListColumn::ContainsString || column == PacketListColumn::LacksString) {
        const std::vector<std::uint32_t> ranks =
            filterTextRanks(list, column == PacketListColumn::ContainsString);
        return sortByNumericKey(rows, ascending, [&](const PacketRow& row) {
            return row.filterTexts < ranks.size() ? KeyPresent | ranks[row.filterTexts] : 0;
        });
    }
    return sortByNumericKey(rows, ascending, [&](const PacketRow& row) {
        return datagramKey(store, row.slot, column);
    });
}

PacketSorter::PacketSorter(PacketTable& table) : table_(table) {}

SortResult PacketSorter::sortByColumn(std::int32_t column,
                                      const std::function<bool(const UserMessage&)>& ask) {
    SortHooks hooks;
    hooks.ask = ask;
    return sortByColumn(column, hooks);
}

SortResult PacketSorter::sortByColumn(std::int32_t column, const SortHooks& hooks) {
    if (!isPacketListColumn(column)) {
        return SortResult::NoSuchColumn;
    }
    PacketTable::Access access = table_.tryLock();
    if (!access) {
        return SortResult::Busy;
    }
    const auto sorting = [&hooks](bool on) {
        if (hooks.sorting) {
            hooks.sorting(on);
        }
    };
    const bool filterTextColumn =
        column == static_cast<std::int32_t>(PacketListColumn::ContainsString) ||
        column == static_cast<std::int32_t>(PacketListColumn::LacksString);
    if (filterTextColumn && access.list().rowCount() > FilterTextSortWarningRows) {
        // The question waits for the user, so the guard is let go meanwhile.
        access.unlock();
        const UserMessage question{std::string(FilterTextSortQuestion),
                                   std::string(FilterTextSortCaption), MessageIcon::Question};
        if (!hooks.ask || !hooks.ask(question)) {
            return SortResult::Declined;
        }
        sorting(true);
        if (hooks.waitForGuard) {
            if (!hooks.waitForGuard(access) || !access.held()) {
                sorting(false);
                return SortResult::Busy;
            }
        } else {
            access.lock();
        }
    } else {
        sorting(true);
    }
    access.list().reorder(sortedRows(access.store(), access.list(), column, sortAscending));
    access.unlock();
    sorting(false);
    sortAscending = !sortAscending;
    return SortResult::Sorted;
}

}  // namespace qhs
