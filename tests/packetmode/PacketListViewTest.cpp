#include <gtest/gtest.h>

#include <QAbstractTableModel>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <vector>

// The platform's accessibility switch, which a screen reader flips; Qt's own tests use it too.
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include "packetmode/PacketListView.h"

namespace qhs {
namespace {

// Rows that are only a count: the view must cope with a million of them.
class CountedRows : public QAbstractTableModel {
  public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 3;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) {
            return {};
        }
        return QStringLiteral("%1/%2").arg(index.row()).arg(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        return QStringLiteral("Column %1").arg(section);
    }
    void append(int count) {
        beginInsertRows({}, rows_, rows_ + count - 1);
        rows_ += count;
        endInsertRows();
    }
    void removeFirst(int count) {
        beginRemoveRows({}, 0, count - 1);
        rows_ -= count;
        endRemoveRows();
    }

  private:
    int rows_ = 0;
};

// Switches accessibility on, as a screen reader does, and records what the views tell it.
class ListeningTool {
  public:
    struct Heard {
        QObject* object;
        QAccessible::Event type;
        int child;
    };

    ListeningTool() : previousHandler_(QAccessible::installUpdateHandler(&ListeningTool::hear)) {
        heard().clear();
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    }
    ~ListeningTool() {
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(previousHandler_);
        heard().clear();
    }

    static std::vector<Heard>& heard() {
        static std::vector<Heard> events;
        return events;
    }
    static bool heardFrom(const QObject* object, QAccessible::Event type, int child) {
        return std::any_of(heard().begin(), heard().end(), [&](const Heard& event) {
            return event.object == object && event.type == type && event.child == child;
        });
    }

  private:
    static void hear(QAccessibleEvent* event) {
        heard().push_back({event->object(), event->type(), event->child()});
    }

    QAccessible::UpdateHandler previousHandler_;
};

class PacketListViewTest : public ::testing::Test {
  protected:
    static constexpr int RowHeight = 20;
    static constexpr int ShownRows = 10;

    PacketListViewTest() {
        view.setModel(&rows);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setRowHeight(RowHeight);
        for (int column = 0; column < 3; ++column) {
            view.setColumnWidth(column, 80);
        }
        view.resize(400, 400);
        view.show();
        QApplication::processEvents();
        // Exactly ShownRows whole rows fit, whatever the style's frame and header take.
        const int extra = view.height() - view.viewport()->height();
        view.resize(400, extra + ShownRows * RowHeight + RowHeight / 2);
        QApplication::processEvents();
    }

    QModelIndex at(int row, int column = 0) { return rows.index(row, column); }

    void click(const QModelIndex& index) {
        const QPoint point = view.visualRect(index).center();
        QMouseEvent press(QEvent::MouseButtonPress, point, view.viewport()->mapToGlobal(point),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, view.viewport()->mapToGlobal(point),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &release);
    }

    void press(int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }

    int selectedRow() {
        const QModelIndexList selected = view.selectionModel()->selectedRows();
        return selected.size() == 1 ? selected.front().row() : -1;
    }

    CountedRows rows;
    PacketListView view;
};

TEST_F(PacketListViewTest, TheScrollBarCountsRowsAndPointsAndCellsAgree) {
    rows.append(1000);
    ASSERT_EQ(view.viewport()->height() / RowHeight, ShownRows);
    QScrollBar* bar = view.verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 1000 - ShownRows);
    EXPECT_EQ(bar->pageStep(), ShownRows);

    view.scrollTo(at(500));
    EXPECT_EQ(view.topRow(), 500 - ShownRows + 1) << "brought in at the bottom edge";
    view.scrollTo(at(495));
    EXPECT_EQ(view.topRow(), 491) << "a row already shown does not scroll";
    view.scrollTo(at(200), QAbstractItemView::PositionAtTop);
    EXPECT_EQ(view.topRow(), 200);
    view.scrollTo(at(200), QAbstractItemView::PositionAtCenter);
    EXPECT_EQ(view.topRow(), 200 - ShownRows / 2);

    for (const QModelIndex& index : {at(195, 0), at(204, 2), at(200, 1)}) {
        const QRect cell = view.visualRect(index);
        EXPECT_EQ(cell.height(), RowHeight);
        EXPECT_EQ(view.indexAt(cell.center()), index);
        EXPECT_EQ(view.indexAt(cell.topLeft()), index);
    }
    EXPECT_EQ(view.visualRect(at(195, 1)).left(), 80);

    view.scrollToBottom();
    EXPECT_EQ(view.topRow(), 1000 - ShownRows);
    EXPECT_EQ(view.indexAt(QPoint(5, ShownRows * RowHeight - 1)), at(999));
    EXPECT_FALSE(view.indexAt(QPoint(5, ShownRows * RowHeight + 2)).isValid())
        << "below the last row there is no row";
    EXPECT_FALSE(view.indexAt(QPoint(3 * 80 + 5, 5)).isValid()) << "right of the last column";
}

TEST_F(PacketListViewTest, AMillionRowsInBatchesKeepTheRangeAndTheEndInView) {
    for (int batch = 0; batch < 100; ++batch) {
        rows.append(10000);
        view.scrollToBottom();
    }
    QApplication::processEvents();
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 1000000 - ShownRows);
    EXPECT_EQ(view.indexAt(QPoint(5, (ShownRows - 1) * RowHeight + 1)), at(999999));

    rows.removeFirst(999995);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0) << "five rows fit without scrolling";
    EXPECT_EQ(view.indexAt(QPoint(5, 1)), at(0));
}

TEST_F(PacketListViewTest, ClicksAndKeysSelectOneWholeRow) {
    rows.append(100);
    click(at(3, 1));
    EXPECT_EQ(selectedRow(), 3);
    EXPECT_EQ(view.selectionModel()->selectedIndexes().size(), 3) << "every cell of the row";

    press(Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 4);
    press(Qt::Key_PageDown);
    EXPECT_EQ(selectedRow(), 4 + ShownRows);
    press(Qt::Key_End);
    EXPECT_EQ(selectedRow(), 99);
    EXPECT_EQ(view.topRow(), 100 - ShownRows) << "the chosen row is brought into view";
    press(Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 99) << "nothing past the last row";
    press(Qt::Key_Home);
    EXPECT_EQ(selectedRow(), 0);
    EXPECT_EQ(view.topRow(), 0);
    press(Qt::Key_Up);
    EXPECT_EQ(selectedRow(), 0);

    view.selectRow(42);
    EXPECT_EQ(selectedRow(), 42);
    EXPECT_EQ(view.currentIndex().row(), 42);
    view.selectRow(100);  // no such row: the selection stays
    EXPECT_EQ(selectedRow(), 42);
}

TEST_F(PacketListViewTest, HeaderClicksAreReportedAndResizedColumnsMoveTheCells) {
    rows.append(5);
    QHeaderView* header = view.horizontalHeader();
    std::vector<int> clicked;
    QObject::connect(header, &QHeaderView::sectionClicked,
                     [&clicked](int section) { clicked.push_back(section); });
    const QPoint onSecond(header->sectionViewportPosition(1) + 10, header->height() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, onSecond, header->mapToGlobal(onSecond),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, onSecond, header->mapToGlobal(onSecond),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &release);
    EXPECT_EQ(clicked, std::vector<int>{1});
    EXPECT_TRUE(view.selectionModel()->selectedIndexes().isEmpty())
        << "a header click sorts; it selects no column";

    view.setColumnWidth(0, 150);
    EXPECT_EQ(view.columnWidth(0), 150);
    EXPECT_EQ(view.visualRect(at(2, 1)).left(), 150);
    EXPECT_EQ(view.indexAt(QPoint(160, 2 * RowHeight + 3)), at(2, 1));
}

TEST_F(PacketListViewTest, TheSelectedRowIsPaintedInTheHighlightColour) {
    rows.append(20);
    view.selectRow(2);
    view.setFocus();
    QApplication::processEvents();
    const QImage image = view.viewport()->grab().toImage();
    const QColor highlight = view.palette().color(QPalette::Active, QPalette::Highlight);
    const QColor base = view.palette().color(QPalette::Active, QPalette::Base);
    // Sampled at the right end of the first cell, away from its text; the style may shade
    // the colours by a step.
    const auto near = [&](int row, const QColor& colour) {
        const QColor seen = image.pixelColor(75, row * RowHeight + RowHeight / 2);
        return std::abs(seen.red() - colour.red()) <= 4 &&
               std::abs(seen.green() - colour.green()) <= 4 &&
               std::abs(seen.blue() - colour.blue()) <= 4;
    };
    ASSERT_FALSE(near(0, highlight) && near(0, base)) << "the two colours must differ";
    EXPECT_TRUE(near(2, highlight));
    EXPECT_TRUE(near(1, base));
    EXPECT_TRUE(near(3, base));
}

TEST_F(PacketListViewTest, AssistiveToolsReadTheListAsATableOfHeadersAndCells) {
    rows.append(1000000);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::Table);
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 1000000);
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(list->childCount(), (1000000 + 1) * 3) << "a row of headers, then the cells";
    for (int column = 0; column < 3; ++column) {
        const QString header = rows.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        EXPECT_EQ(table->columnDescription(column), header);
        ASSERT_NE(list->child(column), nullptr);
        EXPECT_EQ(list->child(column)->role(), QAccessible::ColumnHeader);
        EXPECT_EQ(list->child(column)->text(QAccessible::Name), header);
    }

    QAccessibleInterface* last = table->cellAt(999999, 2);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->role(), QAccessible::Cell);
    EXPECT_EQ(last->text(QAccessible::Name), rows.index(999999, 2).data().toString());
    EXPECT_EQ(last->parent(), list);
    EXPECT_EQ(list->indexOfChild(last), 1000000 * 3 + 2);
    EXPECT_EQ(list->child(1000000 * 3 + 2), last) << "a cell is made once and kept";
    EXPECT_EQ(last->tableCellInterface()->columnHeaderCells(), QList{list->child(2)});
    EXPECT_EQ(table->cellAt(1000000, 0), nullptr);
    EXPECT_EQ(list->child(list->childCount()), nullptr);

    view.selectRow(42);
    EXPECT_EQ(table->selectedRows(), QList<int>{42});
    EXPECT_TRUE(table->isRowSelected(42));
    EXPECT_FALSE(table->isRowSelected(43));
    EXPECT_TRUE(table->cellAt(42, 1)->tableCellInterface()->isSelected());
    EXPECT_EQ(list->focusChild(), table->cellAt(42, 0)) << "the current cell";
    EXPECT_TRUE(table->selectRow(7)) << "a tool chooses a row as a click does";
    EXPECT_EQ(selectedRow(), 7);
    EXPECT_EQ(view.currentIndex(), at(7));
}

TEST_F(PacketListViewTest, AssistiveToolsHearOfTheCursorTheSelectionAndChangedRows) {
    rows.append(100);
    view.activateWindow();
    view.setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(view.hasFocus());
    ListeningTool tool;
    QAccessibleTableInterface* table =
        QAccessible::queryAccessibleInterface(&view)->tableInterface();

    view.selectRow(7);
    const int firstCellOfRow7 = (7 + 1) * 3;  // after the row of headers
    EXPECT_TRUE(ListeningTool::heardFrom(&view, QAccessible::Focus, firstCellOfRow7));
    EXPECT_TRUE(ListeningTool::heardFrom(&view, QAccessible::SelectionAdd, firstCellOfRow7));
    view.selectRow(8);
    EXPECT_TRUE(ListeningTool::heardFrom(&view, QAccessible::SelectionRemove, firstCellOfRow7));

    // Cells of removed rows go; the others follow their rows.
    const QAccessible::Id removedCell = QAccessible::uniqueId(table->cellAt(5, 1));
    QAccessibleInterface* movedCell = table->cellAt(50, 1);
    rows.removeFirst(10);
    EXPECT_TRUE(ListeningTool::heardFrom(&view, QAccessible::TableModelChanged, -1));
    EXPECT_EQ(QAccessible::accessibleInterface(removedCell), nullptr);
    EXPECT_EQ(table->cellAt(40, 1), movedCell);
    EXPECT_EQ(movedCell->text(QAccessible::Name), "40/1");

    ListeningTool::heard().clear();
    rows.append(1);
    EXPECT_TRUE(ListeningTool::heardFrom(&view, QAccessible::TableModelChanged, -1));
    const QAccessible::Id keptCell = QAccessible::uniqueId(movedCell);
    view.reset();  // as when the model is reset
    EXPECT_EQ(QAccessible::accessibleInterface(keptCell), nullptr);
    EXPECT_EQ(table->cellAt(40, 1)->text(QAccessible::Name), "40/1");
}

}  // namespace
}  // namespace qhs
