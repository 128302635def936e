#pragma once

#include <QAbstractItemView>
#include <QHeaderView>

namespace qhs {

// The packet list's view: a table of rows of one height. It keeps no state per row, so a
// batch of new rows costs it nothing beyond a scroll bar range, whether the list holds ten
// rows or a million; a table view keeps a record per row and walks them all after each batch.
// The columns are the sections of an ordinary horizontal header, which can be resized and
// clicked; the vertical scroll bar counts rows. Assistive tools read it as a table (see
// PacketListAccessible.h); Qt's item view already tells them of new, removed and reset rows.
class PacketListView : public QAbstractItemView {
    Q_OBJECT

  public:
    explicit PacketListView(QWidget* parent = nullptr);
    ~PacketListView() override;

    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

    QHeaderView* horizontalHeader() const { return header_; }
    void setColumnWidth(int column, int width) { header_->resizeSection(column, width); }
    int columnWidth(int column) const { return header_->sectionSize(column); }
    void setRowHeight(int height);
    int rowHeight() const { return rowHeight_; }
    // The first row shown at the top of the viewport.
    int topRow() const;
    // Makes `row` the current and only selected row.
    void selectRow(int row);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

  public slots:
    void reset() override;

  protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    int rowCount() const;
    // Rows that fit whole in the viewport (at least one).
    int wholeRowsShown() const;
    // The row under viewport height `y`, which may lie past the last row.
    int rowAt(int y) const;
    void updateRowRange();

    QHeaderView* header_;
    int rowHeight_ = 20;
    bool updatingGeometries_ = false;  // setting the viewport margins lays the view out again
    QMetaObject::Connection rowsRemovedConnection_;
};

}  // namespace qhs
