#pragma once

#include <QModelIndex>

namespace qhs {

// Lets assistive tools read every PacketListView as a table: a row of column headers, then
// one cell per row and column, made only when a tool asks for it. Safe to call more than once.
void installPacketListAccessibility();

// The number of a cell among the children of the list's accessible table (the headers come
// first), or -1 for an invalid index.
int packetListAccessibleChild(const QModelIndex& index);

}  // namespace qhs
