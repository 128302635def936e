#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "capture/PacketTable.h"
#include "packetmode/PacketListColumn.h"

namespace qhs {

// The packet list as the window shows it: a virtual table over the core rows. The capture
// thread adds rows to the table's list without waiting for the window; synchronize(), run on the
// window thread every few milliseconds, copies what is new under the list guard (skipping
// a cycle while the guard is held) and announces it in one batch. Cell texts are made on
// demand from the stored datagram, so a million rows cost only their row records here.
class PacketListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // The shown rows live in `memory`.
    explicit PacketListModel(PacketTable& table, SlabMemory& memory = heapSlabMemory(),
                             QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    struct SyncResult {
        bool synchronized = false;  // false: the guard was busy or the model is detached
        int appendedRows = 0;
        bool reset = false;  // every row was copied again (sort, delete, clear)
    };
    // Copies what is new; with `wait` false a busy guard skips the copy, with `wait` true it
    // is waited for (only from commands of the user, never from the timer).
    SyncResult synchronize(bool wait = false);

    // Empties the shown list and stops copying rows until attach(): from then on no cell
    // reads a store slot, so the slots may be freed.
    void detach();
    void attach();
    bool isDetached() const { return detached_; }

    // The store slot shown in a row, or -1.
    std::int32_t slotOfRow(int row) const;
    // The text of one cell, as the list shows it.
    QString cellText(int row, int column) const;

    static const std::array<int, PacketListColumnCount>& columnWidths();

  private:
    PacketTable& table_;
    SlabArray<PacketRow> rows_;
    std::vector<FilterTexts> texts_;
    // Texts copied under the list guard, taken into the model after it is let go (new rows
    // wait in the spare room past the shown ones).
    std::vector<FilterTexts> copiedTexts_;
    std::uint64_t seenChanges_ = 0;
    bool copyAll_ = false;  // set by attach(): the next synchronisation copies every row
    bool detached_ = false;
};

}  // namespace qhs
