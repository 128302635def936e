#include "packetmode/PacketListModel.h"

#include <algorithm>
#include <array>

#include "analysis/DatagramView.h"
#include "analysis/ProtocolNameTable.h"
#include "app/TextCodec.h"

namespace qhs {

namespace {

const std::array<const char*, PacketListColumnCount> Headers = {
    "Type",    "Size",        "From IP",         "To IP",       "From Port",
    "To Port", "Date / Time", "Contains string", "Lacks string"};

}  // namespace

// Room for a full list at once: later batches never move the rows.
PacketListModel::PacketListModel(PacketTable& table, SlabMemory& memory, QObject* parent)
    : QAbstractTableModel(parent), table_(table), rows_(memory, PacketStoreCapacity) {}

const std::array<int, PacketListColumnCount>& PacketListModel::columnWidths() {
    static const std::array<int, PacketListColumnCount> widths = {40, 40,  100, 100, 60,
                                                                  60, 170, 100, 100};
    return widths;
}

int PacketListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PacketListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : PacketListColumnCount;
}

std::int32_t PacketListModel::slotOfRow(int row) const {
    if (row < 0 || row >= rowCount()) {
        return -1;
    }
    return rows_[static_cast<std::size_t>(row)].slot;
}

QString PacketListModel::cellText(int row, int column) const {
    if (row < 0 || row >= rowCount()) {
        return {};
    }
    if (!isPacketListColumn(column)) {
        return {};
    }
    const auto shown = static_cast<PacketListColumn>(column);
    const PacketRow& packetRow = rows_[static_cast<std::size_t>(row)];
    if (shown == PacketListColumn::ContainsString || shown == PacketListColumn::LacksString) {
        const FilterTexts& texts = texts_[packetRow.filterTexts];
        return fromWindows1252(shown == PacketListColumn::ContainsString ? texts.contains
                                                                         : texts.lacks);
    }
    const std::int32_t slot = packetRow.slot;
    // The slot of a shown row, read without the guard (see PacketTable::storedPacket).
    const std::uint8_t* block = table_.storedPacket(slot);
    if (block == nullptr) {
        return {};
    }
    // Fields beyond a short datagram read as 0, as its zeroed spare bytes would.
    const std::uint32_t length = table_.storedLength(slot);
    const DatagramView header(block, length);
    switch (shown) {
        case PacketListColumn::Type:
            return fromWindows1252(protocolNameOf(header));
        case PacketListColumn::Size:
            return QString::number(length);
        case PacketListColumn::FromIp:
            return QString::fromStdString(header.sourceAddressText());
        case PacketListColumn::ToIp:
            return QString::fromStdString(header.destinationAddressText());
        case PacketListColumn::FromPort:
            return header.hasPorts() ? QString::number(header.sourcePort()) : QString();
        case PacketListColumn::ToPort:
            return header.hasPorts() ? QString::number(header.destinationPort()) : QString();
        case PacketListColumn::DateTime:
            return fromWindows1252(table_.storedTime(slot));
        default:
            return {};
    }
}

QVariant PacketListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    return cellText(index.row(), index.column());
}

QVariant PacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= PacketListColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(Headers[static_cast<std::size_t>(section)]);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

PacketListModel::SyncResult PacketListModel::synchronize(bool wait) {
    SyncResult result;
    if (detached_) {
        return result;
    }
    PacketTable::Access access = wait ? table_.lock() : table_.tryLock();
    if (!access) {
        return result;
    }
    const PacketList& list = access.list();
    result.synchronized = true;
    // Under the guard the rows and texts are only copied; the views hear of them after it is
    // let go, so the capture thread never waits while they lay out and paint.
    const bool changed = copyAll_ || list.changes() != seenChanges_;
    copyAll_ = false;
    seenChanges_ = list.changes();
    copiedTexts_.clear();
    for (std::uint32_t i = changed ? 0 : static_cast<std::uint32_t>(texts_.size());
         i < list.filterTextCount(); ++i) {
        copiedTexts_.push_back(list.filterTexts(i));
    }
    const std::span<const PacketRow> rows = list.rows();
    std::vector<PacketRow> allRows;
    std::size_t newRows = 0;
    if (changed) {
        allRows.assign(rows.begin(), rows.end());
    } else if (rows.size() > rows_.size()) {
        // Into the room past the shown rows: nothing a view reads changes before it is told.
        const std::span<const PacketRow> fresh = rows.subspan(rows_.size());
        newRows = std::min(fresh.size(), rows_.spare().size());
        std::copy_n(fresh.begin(), newRows, rows_.spare().begin());
    }
    access.unlock();

    if (changed) {
        beginResetModel();
        rows_.assign(allRows);
        texts_.swap(copiedTexts_);
        endResetModel();
        result.reset = true;
        return result;
    }
    texts_.insert(texts_.end(), copiedTexts_.begin(), copiedTexts_.end());
    if (newRows > 0) {
        const auto first = static_cast<int>(rows_.size());
        const auto last = first + static_cast<int>(newRows) - 1;
        beginInsertRows({}, first, last);
        rows_.grow(newRows);
        endInsertRows();
        result.appendedRows = last - first + 1;
    }
    return result;
}

void PacketListModel::detach() {
    detached_ = true;
    beginResetModel();
    rows_.clear();
    texts_.clear();
    endResetModel();
}

void PacketListModel::attach() {
    detached_ = false;
    // Copy everything again on the next synchronisation.
    copyAll_ = true;
}

}  // namespace qhs
