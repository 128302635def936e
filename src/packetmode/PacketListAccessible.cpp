#include "packetmode/PacketListAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWindow>
#include <algorithm>
#include <limits>

#include "packetmode/PacketListView.h"

namespace qhs {

namespace {

// The table's children: the column headers take numbers 0 to columns - 1, then the cells
// follow row by row, as in Qt's own table views.
int childNumber(int row, int column, int columns) {
    const qint64 number = (static_cast<qint64>(row) + 1) * columns + column;
    return number <= std::numeric_limits<int>::max() ? static_cast<int>(number) : -1;
}

int columnsOf(const QAbstractItemView& view) {
    return view.model() != nullptr ? view.model()->columnCount(view.rootIndex()) : 0;
}

int rowsOf(const QAbstractItemView& view) {
    return view.model() != nullptr ? view.model()->rowCount(view.rootIndex()) : 0;
}

// A header or a cell of the table. It knows its number among the table's children, or -1
// once what it stood for is gone.
class PacketListChildAccessible : public QAccessibleInterface {
  public:
    explicit PacketListChildAccessible(PacketListView* view) : view_(view) {}

    virtual int number() const = 0;
    PacketListView* view() const { return view_; }

    bool isValid() const override { return number() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return view_ != nullptr ? view_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(view_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

  protected:
    QPointer<PacketListView> view_;
};

class PacketListHeaderAccessible final : public PacketListChildAccessible {
  public:
    PacketListHeaderAccessible(PacketListView* view, int column)
        : PacketListChildAccessible(view), column_(column) {}

    int number() const override {
        return view_ != nullptr && column_ < columnsOf(*view_) ? column_ : -1;
    }
    QString text(QAccessible::Text type) const override {
        if (type != QAccessible::Name || !isValid()) {
            return {};
        }
        return view_->model()->headerData(column_, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    QRect rect() const override {
        if (!isValid() || !isShown()) {
            return {};
        }
        const QHeaderView* header = view_->horizontalHeader();
        const QPoint topLeft =
            header->viewport()->mapToGlobal(QPoint(header->sectionViewportPosition(column_), 0));
        return {topLeft, QSize(header->sectionSize(column_), header->viewport()->height())};
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
        } else if (!isShown()) {
            state.invisible = true;
        }
        return state;
    }

  private:
    bool isShown() const {
        const QHeaderView* header = view_->horizontalHeader();
        return !header->isHidden() && !header->isSectionHidden(column_);
    }

    int column_;
};

class PacketListCellAccessible final : public PacketListChildAccessible,
                                       public QAccessibleTableCellInterface {
  public:
    PacketListCellAccessible(PacketListView* view, const QModelIndex& index)
        : PacketListChildAccessible(view), index_(index) {}

    int number() const override {
        if (view_ == nullptr || !index_.isValid() || index_.model() != view_->model() ||
            index_.parent() != view_->rootIndex()) {
            return -1;
        }
        return childNumber(index_.row(), index_.column(), columnsOf(*view_));
    }
    QString text(QAccessible::Text type) const override {
        if (!isValid()) {
            return {};
        }
        if (type == QAccessible::Name) {
            const QString spoken = index_.data(Qt::AccessibleTextRole).toString();
            return spoken.isEmpty() ? index_.data(Qt::DisplayRole).toString() : spoken;
        }
        if (type == QAccessible::Description) {
            return index_.data(Qt::AccessibleDescriptionRole).toString();
        }
        return {};
    }
    QRect rect() const override {
        if (!isValid()) {
            return {};
        }
        const QRect shown = view_->visualRect(index_);
        if (!shown.isValid()) {
            return {};
        }
        return {view_->viewport()->mapToGlobal(shown.topLeft()), shown.size()};
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QRect shown = view_->visualRect(index_);
        if (!shown.isValid()) {
            state.invisible = true;
        } else if (!shown.intersects(view_->viewport()->rect())) {
            state.offscreen = true;
        }
        state.focusable = true;
        state.focused = view_->currentIndex() == index_;
        if (view_->selectionMode() != QAbstractItemView::NoSelection) {
            state.selectable = true;
            state.selected = isSelected();
        }
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override {
        return isValid() && view_->selectionModel() != nullptr &&
               view_->selectionModel()->isSelected(index_);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        QAccessibleInterface* list = isValid() ? table() : nullptr;
        QAccessibleInterface* header = list != nullptr ? list->child(index_.column()) : nullptr;
        return header != nullptr ? QList<QAccessibleInterface*>{header}
                                 : QList<QAccessibleInterface*>{};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return isValid() ? index_.column() : -1; }
    int rowIndex() const override { return isValid() ? index_.row() : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

  private:
    // Follows its row when rows above it come or go, and turns invalid when the row does.
    QPersistentModelIndex index_;
};

class PacketListTableAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
  public:
    explicit PacketListTableAccessible(PacketListView* view)
        : QAccessibleWidget(view, QAccessible::Table) {}

    ~PacketListTableAccessible() override { dropChildren(); }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint global(x, y);
        const QPoint inViewport = list()->viewport()->mapFromGlobal(global);
        if (list()->viewport()->rect().contains(inViewport)) {
            const QModelIndex index = list()->indexAt(inViewport);
            return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
        }
        const QHeaderView* header = list()->horizontalHeader();
        const QPoint inHeader = header->viewport()->mapFromGlobal(global);
        if (!header->isHidden() && header->viewport()->rect().contains(inHeader)) {
            const int column = header->logicalIndexAt(inHeader.x());
            return column >= 0 ? child(column) : nullptr;
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = list()->currentIndex();
        if (!current.isValid()) {
            return QAccessibleWidget::focusChild();
        }
        return cellAt(current.row(), current.column());
    }
    QAccessibleInterface* child(int number) const override {
        const int columns = columnCount();
        if (number < 0 || number >= childCount()) {
            return nullptr;
        }
        if (number < columns) {
            return header(number);
        }
        return cellAt(number / columns - 1, number % columns);
    }
    int childCount() const override {
        const qint64 count = (static_cast<qint64>(rowCount()) + 1) * columnCount();
        return static_cast<int>(std::min<qint64>(count, std::numeric_limits<int>::max()));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* listChild = dynamic_cast<const PacketListChildAccessible*>(child);
        return listChild != nullptr && listChild->view() == list() ? listChild->number() : -1;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface) {
            return static_cast<QAccessibleTableInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount() ||
            childNumber(row, column, columnCount()) < 0) {
            return nullptr;
        }
        const QPersistentModelIndex index(list()->model()->index(row, column, list()->rootIndex()));
        if (QAccessibleInterface* cached =
                QAccessible::accessibleInterface(cellIds_.value(index))) {
            return cached;
        }
        auto* cell = new PacketListCellAccessible(list(), index);
        cellIds_.insert(index, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    int selectedCellCount() const override {
        return selection() != nullptr ? static_cast<int>(selection()->selectedIndexes().size()) : 0;
    }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        if (selection() == nullptr) {
            return cells;
        }
        for (const QModelIndex& index : selection()->selectedIndexes()) {
            if (QAccessibleInterface* cell = cellAt(index.row(), index.column())) {
                cells.append(cell);
            }
        }
        return cells;
    }
    QString columnDescription(int column) const override {
        return list()->model() != nullptr
                   ? list()->model()->headerData(column, Qt::Horizontal).toString()
                   : QString();
    }
    QString rowDescription(int row) const override {
        return list()->model() != nullptr
                   ? list()->model()->headerData(row, Qt::Vertical).toString()
                   : QString();
    }
    int selectedColumnCount() const override { return static_cast<int>(selectedColumns().size()); }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return columnsOf(*list()); }
    int rowCount() const override { return rowsOf(*list()); }
    QList<int> selectedColumns() const override {
        QList<int> columns;
        if (selection() != nullptr) {
            for (const QModelIndex& index : selection()->selectedColumns()) {
                columns.append(index.column());
            }
        }
        return columns;
    }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (selection() != nullptr) {
            for (const QModelIndex& index : selection()->selectedRows()) {
                rows.append(index.row());
            }
        }
        return rows;
    }
    bool isColumnSelected(int column) const override {
        return selection() != nullptr && selection()->isColumnSelected(column, list()->rootIndex());
    }
    bool isRowSelected(int row) const override {
        return selection() != nullptr && selection()->isRowSelected(row, list()->rootIndex());
    }
    bool selectRow(int row) override {
        if (!canSelect(row, 0) || list()->selectionBehavior() == QAbstractItemView::SelectColumns) {
            return false;
        }
        if (list()->selectionMode() == QAbstractItemView::SingleSelection) {
            if (list()->selectionBehavior() != QAbstractItemView::SelectRows && columnCount() > 1) {
                return false;
            }
            list()->selectRow(row);  // the current and only selected row, as a click makes it
            return true;
        }
        selection()->select(list()->model()->index(row, 0, list()->rootIndex()),
                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        return true;
    }
    bool selectColumn(int column) override {
        if (!canSelect(0, column) || list()->selectionBehavior() == QAbstractItemView::SelectRows ||
            list()->selectionMode() == QAbstractItemView::SingleSelection) {
            return false;
        }
        selection()->select(list()->model()->index(0, column, list()->rootIndex()),
                            QItemSelectionModel::Select | QItemSelectionModel::Columns);
        return true;
    }
    bool unselectRow(int row) override {
        if (!canSelect(row, 0)) {
            return false;
        }
        selection()->select(list()->model()->index(row, 0, list()->rootIndex()),
                            QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        return true;
    }
    bool unselectColumn(int column) override {
        if (!canSelect(0, column)) {
            return false;
        }
        selection()->select(list()->model()->index(0, column, list()->rootIndex()),
                            QItemSelectionModel::Deselect | QItemSelectionModel::Columns);
        return true;
    }

    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        switch (event->modelChangeType()) {
            case QAccessibleTableModelChangeEvent::ModelReset:
            case QAccessibleTableModelChangeEvent::ColumnsInserted:
            case QAccessibleTableModelChangeEvent::ColumnsRemoved:
                dropChildren();
                break;
            case QAccessibleTableModelChangeEvent::RowsRemoved:
                dropCellsOfRemovedRows();
                break;
            case QAccessibleTableModelChangeEvent::RowsInserted:
            case QAccessibleTableModelChangeEvent::DataChanged:
                break;  // the cells' indexes have followed their rows
        }
    }

  private:
    PacketListView* list() const { return static_cast<PacketListView*>(widget()); }
    QItemSelectionModel* selection() const { return list()->selectionModel(); }

    bool canSelect(int row, int column) const {
        return selection() != nullptr &&
               list()->selectionMode() != QAbstractItemView::NoSelection && row >= 0 &&
               column >= 0 && row < rowCount() && column < columnCount();
    }

    QAccessibleInterface* header(int column) const {
        if (QAccessibleInterface* cached =
                QAccessible::accessibleInterface(headerIds_.value(column))) {
            return cached;
        }
        auto* header = new PacketListHeaderAccessible(list(), column);
        headerIds_.insert(column, QAccessible::registerAccessibleInterface(header));
        return header;
    }

    void dropCellsOfRemovedRows() {
        for (auto cell = cellIds_.begin(); cell != cellIds_.end();) {
            if (cell.key().isValid()) {
                ++cell;
                continue;
            }
            QAccessible::deleteAccessibleInterface(cell.value());
            cell = cellIds_.erase(cell);
        }
    }

    void dropChildren() {
        for (const QAccessible::Id id : std::as_const(cellIds_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
        for (const QAccessible::Id id : std::as_const(headerIds_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
        cellIds_.clear();
        headerIds_.clear();
    }

    // Only cells a tool asked for are made, and kept until their rows go. A persistent index
    // hashes by identity, so a cell is found at its row's new place after rows come or go.
    mutable QHash<QPersistentModelIndex, QAccessible::Id> cellIds_;
    mutable QHash<int, QAccessible::Id> headerIds_;
};

QAccessibleInterface* makePacketListAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(PacketListView::staticMetaObject.className())) {
        return nullptr;
    }
    auto* view = qobject_cast<PacketListView*>(object);
    return view != nullptr ? new PacketListTableAccessible(view) : nullptr;
}

}  // namespace

void installPacketListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(makePacketListAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

int packetListAccessibleChild(const QModelIndex& index) {
    if (!index.isValid()) {
        return -1;
    }
    return childNumber(index.row(), index.column(), index.model()->columnCount(index.parent()));
}

}  // namespace qhs
