// The mouse on the result grid's rows, with synthetic events as the pointer sends them: pressing
// on a row outside the selection and moving sweeps a selection, as in a file manager; pressing on
// a selected row and moving drags the selected files out. Also: a hidden column's band is taken
// by the other columns at once.

#include "AppSettings.h"
#include "ColumnFitter.h"
#include "GuiTestEnvironment.h"
#include "ResultGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QTableView>
#include <QTest>

namespace {

class RowMouseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
        for (int i = 1; i <= 10; ++i) {
            ResultRow row;
            row.FileName = QStringLiteral("file%1.tif").arg(i);
            row.FullPath = QStringLiteral("/scans/file%1.tif").arg(i);
            grid.AppendResultRow(row);
        }
        // Records what a drag would carry; no data means no drag is started, so nothing blocks.
        grid.setRowDrag(
            [this](const QList<int> &rows) {
                dragged << rows;
                return static_cast<QMimeData *>(nullptr);
            },
            {ResultGrid::uriListType()});
        grid.resize(900, 500);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }

    QWidget *viewport() const { return grid.view()->viewport(); }
    QPoint centreOf(int row) const
    {
        const QRect r = grid.view()->visualRect(grid.view()->model()->index(row - 1, ColFileName));
        return r.center();
    }
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent e(type, QPointF(at), QPointF(viewport()->mapToGlobal(at)), button, held, modifiers);
        QApplication::sendEvent(viewport(), &e);
    }
    // Press on one row, move over the rows to another in small steps, release.
    void sweep(int from, int to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        send(QEvent::MouseButtonPress, centreOf(from), Qt::LeftButton, Qt::LeftButton, modifiers);
        const int step = from <= to ? 1 : -1;
        for (int r = from; r != to + step; r += step) {
            send(QEvent::MouseMove, centreOf(r) + QPoint(0, 2 * step), Qt::NoButton, Qt::LeftButton, modifiers);
            send(QEvent::MouseMove, centreOf(r), Qt::NoButton, Qt::LeftButton, modifiers);
        }
        send(QEvent::MouseButtonRelease, centreOf(to), Qt::LeftButton, Qt::NoButton, modifiers);
    }
    QList<int> selected() const
    {
        QList<int> rows;
        for (int i = 0; i < grid.selectedRows(); ++i)
            rows << grid.selectedRow(i);
        return rows;
    }

    ResultGrid grid;
    QList<QList<int>> dragged;
};

TEST_F(RowMouseTest, SweepFromAnUnselectedRowSelectsEveryRowPassed)
{
    sweep(2, 7);
    EXPECT_EQ(selected(), (QList<int>{2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(dragged.isEmpty()) << "no drag from a row that was not selected";
    EXPECT_EQ(grid.row(), 7) << "the cursor ends where the pointer was released";

    // Upwards too, and a new sweep replaces the old selection.
    sweep(9, 4);
    EXPECT_EQ(selected(), (QList<int>{4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(dragged.isEmpty());
}

TEST_F(RowMouseTest, DragStartsFromASelectedRowAndCarriesTheSelection)
{
    sweep(2, 7);
    ASSERT_EQ(selected().size(), 6);
    grid.setRowHiddenFlag(3, true);  // deleted: not carried

    // Along the row, past the drag distance. A real drag would now take the pointer's further
    // moves and its release; here the drag is not started, so none are sent.
    send(QEvent::MouseButtonPress, centreOf(5), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, centreOf(5) + QPoint(2, 0), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, centreOf(5) + QPoint(QApplication::startDragDistance() + 20, 0), Qt::NoButton,
         Qt::LeftButton);

    ASSERT_EQ(dragged.size(), 1);
    EXPECT_EQ(dragged[0], (QList<int>{2, 4, 5, 6, 7}));
    EXPECT_EQ(selected().size(), 6) << "starting a drag keeps the selection";

    // A click without moving on a selected row selects that row alone, as before.
    send(QEvent::MouseButtonPress, centreOf(6), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, centreOf(6), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(selected(), QList<int>{6});
    EXPECT_EQ(dragged.size(), 1);
}

TEST_F(RowMouseTest, CtrlSweepAddsToTheSelection)
{
    grid.setIsSelected(9, true);
    sweep(2, 4, Qt::ControlModifier);
    EXPECT_EQ(selected(), (QList<int>{2, 3, 4, 9}));
    EXPECT_TRUE(dragged.isEmpty());
}

// The width the shown columns take together.
int visibleWidth(const ResultGrid &grid)
{
    return grid.view()->horizontalHeader()->length();
}

TEST_F(RowMouseTest, HidingOrShowingAColumnRefitsTheOthersAtOnce)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWidth(grid) == viewport()->width(); }));
    modGlobal::SettingsRecord settings = modGlobal::SettingsRecord::defaults();
    for (const QStringList &visibility : {QStringList{"1", "1", "0", "1", "1"}, QStringList{"1", "0", "0", "1", "0"},
                                          QStringList{"1", "1", "1", "1", "1"}}) {
        settings.ColumnVisibility = visibility;
        grid.RefreshGrid(settings);
        EXPECT_EQ(visibleWidth(grid), viewport()->width()) << visibility.join(',').toStdString();
        for (int c = 0; c < kResultDataColumns; ++c)
            EXPECT_EQ(grid.colHidden(c), visibility[c] == "0");
    }
}

}  // namespace
