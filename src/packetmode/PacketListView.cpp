#include "packetmode/PacketListView.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "packetmode/PacketListAccessible.h"

namespace qhs {

namespace {

int clampToInt(qint64 value) {
    return static_cast<int>(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

// Names the first cell of `cells` only, so a selection of a million rows costs what one does.
void announceSelection(QAbstractItemView* view, const QItemSelection& cells,
                       QAccessible::Event type) {
    const int child = cells.isEmpty() ? -1 : packetListAccessibleChild(cells.first().topLeft());
    if (child < 0) {
        return;
    }
    QAccessibleEvent event(view, type);
    event.setChild(child);
    QAccessible::updateAccessibility(&event);
}

}  // namespace

PacketListView::PacketListView(QWidget* parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)) {
    installPacketListAccessibility();
    header_->setSectionsClickable(true);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    const auto relayout = [this] {
        updateGeometries();
        viewport()->update();
    };
    connect(header_, &QHeaderView::sectionResized, this, relayout);
    connect(header_, &QHeaderView::sectionMoved, this, relayout);
    connect(header_, &QHeaderView::sectionCountChanged, this, relayout);
    connect(header_, &QHeaderView::geometriesChanged, this, &PacketListView::updateGeometries);
}

PacketListView::~PacketListView() {
    // The header outlives this part of the object: hidden as the base class closes the
    // widget, it still reports new geometries, which must not reach a view half destroyed.
    disconnect(header_, nullptr, this, nullptr);
}

void PacketListView::setModel(QAbstractItemModel* newModel) {
    if (newModel == model()) {
        return;
    }
    disconnect(rowsRemovedConnection_);
    // The header gets the model first: the view's new selection model is handed on to it.
    header_->setModel(newModel);
    QAbstractItemView::setModel(newModel);
    if (newModel != nullptr) {
        rowsRemovedConnection_ =
            connect(newModel, &QAbstractItemModel::rowsRemoved, this, [this] { updateRowRange(); });
    }
    updateGeometries();
}

void PacketListView::setSelectionModel(QItemSelectionModel* selectionModel) {
    QAbstractItemView::setSelectionModel(selectionModel);
    header_->setSelectionModel(selectionModel);
}

void PacketListView::setRowHeight(int height) {
    rowHeight_ = std::max(height, 1);
    updateGeometries();
    viewport()->update();
}

int PacketListView::rowCount() const {
    return model() != nullptr ? model()->rowCount(rootIndex()) : 0;
}

int PacketListView::topRow() const {
    return verticalScrollBar()->value();
}

int PacketListView::wholeRowsShown() const {
    return std::max(viewport()->height() / rowHeight_, 1);
}

int PacketListView::rowAt(int y) const {
    // Rounds toward minus infinity, so a point above the viewport names the row above.
    const int offset = y >= 0 ? y / rowHeight_ : -((-y + rowHeight_ - 1) / rowHeight_);
    return clampToInt(static_cast<qint64>(topRow()) + offset);
}

void PacketListView::selectRow(int row) {
    if (selectionModel() == nullptr || row < 0 || row >= rowCount()) {
        return;
    }
    const int column = std::max(header_->logicalIndex(0), 0);
    selectionModel()->setCurrentIndex(
        model()->index(row, column, rootIndex()),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QRect PacketListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        header_->isSectionHidden(index.column())) {
        return {};
    }
    const qint64 top = (static_cast<qint64>(index.row()) - topRow()) * rowHeight_;
    return {header_->sectionViewportPosition(index.column()), clampToInt(top),
            header_->sectionSize(index.column()), rowHeight_};
}

void PacketListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model()) {
        return;
    }
    const int row = index.row();
    const int shown = wholeRowsShown();
    int top = topRow();
    switch (hint) {
        case PositionAtTop:
            top = row;
            break;
        case PositionAtBottom:
            top = row - shown + 1;
            break;
        case PositionAtCenter:
            top = row - shown / 2;
            break;
        case EnsureVisible:
            if (row < top) {
                top = row;
            } else if (row >= top + shown) {
                top = row - shown + 1;
            }
            break;
    }
    verticalScrollBar()->setValue(top);

    // The cell's column comes into view too, its left edge first when it is wider than the view.
    QScrollBar* across = horizontalScrollBar();
    const int left = header_->sectionPosition(index.column());
    const int right = left + header_->sectionSize(index.column());
    const int width = viewport()->width();
    if (left < across->value()) {
        across->setValue(left);
    } else if (right > across->value() + width) {
        across->setValue(std::min(left, right - width));
    }
}

QModelIndex PacketListView::indexAt(const QPoint& point) const {
    const int row = rowAt(point.y());
    const int column = header_->logicalIndexAt(point.x());
    if (model() == nullptr || row < 0 || row >= rowCount() || column < 0) {
        return {};
    }
    return model()->index(row, column, rootIndex());
}

void PacketListView::reset() {
    QAbstractItemView::reset();
    updateRowRange();
}

QModelIndex PacketListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int rows = rowCount();
    if (rows == 0 || header_->count() == 0) {
        return {};
    }
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        return model()->index(0, std::max(header_->logicalIndex(0), 0), rootIndex());
    }
    int row = current.row();
    int visualColumn = header_->visualIndex(current.column());
    switch (cursorAction) {
        case MoveUp:
            --row;
            break;
        case MoveDown:
            ++row;
            break;
        case MovePageUp:
            row -= wholeRowsShown();
            break;
        case MovePageDown:
            row += wholeRowsShown();
            break;
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = rows - 1;
            break;
        case MoveLeft:
            --visualColumn;
            break;
        case MoveRight:
            ++visualColumn;
            break;
        case MoveNext:
        case MovePrevious:
            return current;
    }
    row = std::clamp(row, 0, rows - 1);
    visualColumn = std::clamp(visualColumn, 0, header_->count() - 1);
    return model()->index(row, header_->logicalIndex(visualColumn), rootIndex());
}

int PacketListView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int PacketListView::verticalOffset() const {
    return clampToInt(static_cast<qint64>(topRow()) * rowHeight_);
}

bool PacketListView::isIndexHidden(const QModelIndex& index) const {
    return header_->isSectionHidden(index.column());
}

void PacketListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int rows = rowCount();
    if (selectionModel() == nullptr || rows == 0 || header_->count() == 0) {
        return;
    }
    const QRect area = rect.normalized();
    const int firstRow = std::clamp(rowAt(area.top()), 0, rows - 1);
    const int lastRow = std::clamp(rowAt(area.bottom()), 0, rows - 1);
    const int lastVisual = header_->count() - 1;
    int firstVisual = header_->visualIndexAt(area.left());
    int endVisual = header_->visualIndexAt(area.right());
    firstVisual = firstVisual < 0 ? (area.left() < 0 ? 0 : lastVisual) : firstVisual;
    endVisual = endVisual < 0 ? (area.right() < 0 ? 0 : lastVisual) : endVisual;
    int leftColumn = header_->logicalIndex(firstVisual);
    int rightColumn = leftColumn;
    for (int visual = std::min(firstVisual, endVisual); visual <= std::max(firstVisual, endVisual);
         ++visual) {
        leftColumn = std::min(leftColumn, header_->logicalIndex(visual));
        rightColumn = std::max(rightColumn, header_->logicalIndex(visual));
    }
    const QItemSelection selection(model()->index(firstRow, leftColumn, rootIndex()),
                                   model()->index(lastRow, rightColumn, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion PacketListView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = topRow();
    const int bottom = top + wholeRowsShown();  // the partly shown row below counts too
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex()) {
            continue;
        }
        const int firstRow = std::max(range.top(), top);
        const int lastRow = std::min(range.bottom(), bottom);
        if (firstRow > lastRow) {
            continue;
        }
        for (int column = range.left(); column <= range.right(); ++column) {
            if (header_->isSectionHidden(column)) {
                continue;
            }
            region += QRect(header_->sectionViewportPosition(column), (firstRow - top) * rowHeight_,
                            header_->sectionSize(column), (lastRow - firstRow + 1) * rowHeight_);
        }
    }
    return region;
}

void PacketListView::paintEvent(QPaintEvent* event) {
    const int rows = rowCount();
    const QRect exposed = event->rect();
    const int firstExposed = rowAt(exposed.top());
    if (firstExposed >= rows) {
        return;  // only the empty area below the last row, which the viewport fills itself
    }
    QPainter painter(viewport());
    const int top = topRow();
    const int firstRow = std::max(firstExposed, 0);
    const int lastRow = std::clamp(rowAt(exposed.bottom()), 0, rows - 1);
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QModelIndex current = currentIndex();
    const bool showFocus = hasFocus() && current.isValid();
    const QItemSelectionModel* selection = selectionModel();
    for (int visual = 0; visual < header_->count(); ++visual) {
        const int column = header_->logicalIndex(visual);
        if (header_->isSectionHidden(column)) {
            continue;
        }
        const int left = header_->sectionViewportPosition(column);
        const int width = header_->sectionSize(column);
        if (left > exposed.right() || left + width <= exposed.left()) {
            continue;
        }
        for (int row = firstRow; row <= lastRow; ++row) {
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem cell = base;
            cell.rect = QRect(left, (row - top) * rowHeight_, width, rowHeight_);
            if (selection != nullptr && selection->isSelected(index)) {
                cell.state |= QStyle::State_Selected;
            }
            if (showFocus && index == current) {
                cell.state |= QStyle::State_HasFocus;
            }
            itemDelegateForIndex(index)->paint(&painter, cell, index);
        }
    }
}

void PacketListView::scrollContentsBy(int dx, int dy) {
    if (dx != 0) {
        header_->setOffset(horizontalScrollBar()->value());
    }
    // The vertical bar counts rows; a scroll of less than a screen moves the pixels already
    // drawn and paints only the rows that came into view.
    if (std::abs(dy) < wholeRowsShown() && std::abs(dx) < viewport()->width()) {
        viewport()->scroll(dx, dy * rowHeight_);
    } else {
        viewport()->update();
    }
}

void PacketListView::updateGeometries() {
    if (updatingGeometries_) {
        return;
    }
    updatingGeometries_ = true;
    const int headerHeight = header_->isHidden()
                                 ? 0
                                 : std::clamp(header_->sizeHint().height(),
                                              header_->minimumHeight(), header_->maximumHeight());
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    header_->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);

    QScrollBar* across = horizontalScrollBar();
    across->setPageStep(area.width());
    across->setSingleStep(20);
    across->setRange(0, std::max(header_->length() - area.width(), 0));
    header_->setOffset(across->value());
    updateRowRange();
    QAbstractItemView::updateGeometries();
    updatingGeometries_ = false;
}

void PacketListView::updateRowRange() {
    QScrollBar* down = verticalScrollBar();
    const int shown = wholeRowsShown();
    down->setPageStep(shown);
    down->setSingleStep(1);
    down->setRange(0, std::max(rowCount() - shown, 0));
}

void PacketListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex()) {
        return;
    }
    updateRowRange();
    // Rows below the last one shown change nothing on the screen but the scroll bar.
    if (start <= topRow() + wholeRowsShown()) {
        viewport()->update();
    }
}

// Events are sent only while a tool listens: Qt would drop them, but only after making the
// list's accessible table to hand them to.
void PacketListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    // A list without the keyboard focus does not pull the tool's focus to itself.
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(packetListAccessibleChild(current));
        QAccessible::updateAccessibility(&event);
    }
}

void PacketListView::selectionChanged(const QItemSelection& selected,
                                      const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    if (QAccessible::isActive()) {
        announceSelection(this, selected, QAccessible::SelectionAdd);
        announceSelection(this, deselected, QAccessible::SelectionRemove);
    }
}

}  // namespace qhs
