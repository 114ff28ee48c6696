// What a result row carries beyond its cells: the reason a count failed (tooltip), and the file
// URLs a drag of rows takes along; and how the columns share the grid's width.

#include "AppSettings.h"
#include "ColumnFitter.h"
#include "FileNames.h"
#include "FlexGridModel.h"
#include "GuiTestEnvironment.h"
#include "ResultGrid.h"

#include <QAccessible>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

namespace {

class ResultRowExtrasTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
        grid.resize(900, 300);
    }

    int add(const QString &fullPath, const QString &pages, const QString &reason = QString())
    {
        ResultRow row;
        row.FullPath = fullPath;
        row.FileName = fullPath.mid(fullPath.lastIndexOf('/') + 1);
        row.Location = fullPath.left(fullPath.lastIndexOf('/'));
        row.SizeKb = QStringLiteral("1");
        row.Pages = pages;
        row.PagesReason = reason;
        return grid.AppendResultRow(row);
    }
    int rowOf(const QString &name) const
    {
        for (int r = 1; r < grid.rows(); ++r)
            if (grid.textMatrix(r, ColFileName) == name)
                return r;
        return -1;
    }
    QString toolTipShown(int row) const
    {
        return grid.model()->index(row - 1, ColPages).data(Qt::ToolTipRole).toString();
    }

    ResultGrid grid;
};

TEST_F(ResultRowExtrasTest, ReasonStaysWithItsRowThroughSortAndDelete)
{
    add("/s/b.pdf", "Error", "Needs a password");
    add("/s/a.tif", "0", "The file could not be read as a TIFF");
    add("/s/c.pdf", "4");
    grid.SortBy(ColFileName, FlexGrid::SortedAscending);
    EXPECT_EQ(toolTipShown(rowOf("a.tif")), "The file could not be read as a TIFF");
    EXPECT_EQ(toolTipShown(rowOf("b.pdf")), "Needs a password");
    EXPECT_TRUE(toolTipShown(rowOf("c.pdf")).isEmpty());
    grid.SortBy(ColPages, FlexGrid::SortedDescending);
    grid.setRowHiddenFlag(rowOf("c.pdf"), true);
    EXPECT_EQ(grid.cellToolTip(rowOf("b.pdf"), ColPages), "Needs a password");
    EXPECT_EQ(grid.cellToolTip(rowOf("a.tif"), ColPages), "The file could not be read as a TIFF");
    EXPECT_TRUE(grid.cellToolTip(rowOf("a.tif"), ColFileName).isEmpty()) << "only the Pages cell explains";
    grid.ClearRows();
    add("/s/d.pdf", "2");
    EXPECT_TRUE(grid.cellToolTip(1, ColPages).isEmpty()) << "a new row inherits nothing";
}

TEST(PagesWithReason, PutsTheReasonAfterThePages)
{
    EXPECT_EQ(ResultGrid::pagesWithReason("Error", "Gave up after 10 s"), "Error (Gave up after 10 s)");
    EXPECT_EQ(ResultGrid::pagesWithReason("12", ""), "12");
    EXPECT_EQ(ResultGrid::pagesWithReason("", ""), "");
}

TEST_F(ResultRowExtrasTest, DragCarriesTheSelectedVisibleFilesAsExactUrls)
{
    const QByteArray latin1Name = "/scans/caf\xe9 1.tif";  // not UTF-8
    add(platform::pathToText(latin1Name), "1");
    add(QString::fromUtf8("/scans/r\xc3\xa9sum\xc3\xa9 #2.pdf"), "2");
    add("/scans/deleted.pdf", "3");
    add("/scans/not selected.pdf", "4");
    for (int r : {1, 2, 3})
        grid.setIsSelected(r, true);
    grid.setRowHiddenFlag(3, true);

    EXPECT_TRUE(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsDragEnabled);
    EXPECT_EQ(grid.model()->supportedDragActions(), Qt::CopyAction) << "never a move of the user's files";
    std::unique_ptr<QMimeData> data(grid.model()->mimeData(grid.view()->selectionModel()->selectedIndexes()));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->data("text/uri-list"),
              QByteArray("file:///scans/caf%E9%201.tif\r\nfile:///scans/r%C3%A9sum%C3%A9%20%232.pdf\r\n"));
    EXPECT_EQ(data->formats(), QStringList{"text/uri-list"});
    EXPECT_EQ(data->urls().size(), 2) << "receivers that read URLs still find both";

    grid.setIsSelected(-1, false);
    grid.setIsSelected(3, true);
    std::unique_ptr<QMimeData> none(grid.model()->mimeData(grid.view()->selectionModel()->selectedIndexes()));
    EXPECT_FALSE(none) << "only deleted rows: nothing to drag";
}

// Columns fill the grid's width at any size the window can take, and none falls below its minimum.
class ColumnFitTest : public ResultRowExtrasTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(ColumnFitTest, VisibleColumnsEndAtTheRightEdge)
{
    for (int i = 0; i < 40; ++i)
        add(QString("/a/long/folder/name/file %1.tif").arg(i), QString::number(i));
    grid.resize(GetParam(), 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    QTableView *view = grid.view();
    const ColumnFitter &fitter = grid.columnFitter();
    int total = 0;
    for (int c = 0; c < ColFullPath; ++c) {
        // Short of room, File Name and Location give way first, down to a floor.
        const bool stretch = c == ColFileName || c == ColLocation;
        EXPECT_GE(view->columnWidth(c), stretch ? ColumnFitter::kStretchFloor : fitter.minimumWidth(c)) << c;
        total += view->columnWidth(c);
    }
    const int available = view->viewport()->width();
    const int minimumTotal = fitter.minimumWidth(ColSize) + fitter.minimumWidth(ColModifiedDate) +
                             fitter.minimumWidth(ColPages) + 2 * ColumnFitter::kStretchFloor;
    if (available >= minimumTotal) {
        EXPECT_NEAR(total, available, 1);
        EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    }
    // The header "Pages" and its sort arrow fit in the Pages column.
    const QFontMetrics fm = view->horizontalHeader()->fontMetrics();
    EXPECT_GE(view->columnWidth(ColPages), fm.horizontalAdvance("Pages") + 11);

    // A hidden column's width goes to File Name and Location at the next resize.
    const int nameBefore = view->columnWidth(ColFileName);
    grid.setColHidden(ColModifiedDate, true);
    grid.resize(grid.width() + 1, grid.height());
    QApplication::processEvents();
    if (available >= minimumTotal) {
        EXPECT_GT(view->columnWidth(ColFileName), nameBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, ColumnFitTest, ::testing::Values(380, 500, 700, 1100, 2400));

TEST_F(ResultRowExtrasTest, UserWidthsOfOtherColumnsAreKeptStretchColumnsKeepTheirShares)
{
    grid.resize(1200, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    QTableView *view = grid.view();
    view->setColumnWidth(ColSize, 150);  // as a drag of the header's edge does
    view->setColumnWidth(ColFileName, 400);
    view->setColumnWidth(ColLocation, 200);
    grid.resize(1400, 300);
    QApplication::processEvents();
    EXPECT_EQ(view->columnWidth(ColSize), 150);
    EXPECT_NEAR(double(view->columnWidth(ColFileName)) / view->columnWidth(ColLocation), 2.0, 0.05);
}

}  // namespace

namespace {

// A screen reader walking the grid meets the rows a sighted user sees: no deleted row, no hidden
// key column.
TEST_F(ResultRowExtrasTest, AssistiveToolsSeeOnlyVisibleRowsAndColumns)
{
    add("/s/one.tif", "1");
    add("/s/deleted.pdf", "Error", "Needs a password");
    add("/s/three.pdf", "Error", "Damaged beyond repair");
    grid.show();
    grid.setRowHiddenFlag(2, true);

    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(grid.view());
    ASSERT_TRUE(table);
    EXPECT_EQ(table->role(), QAccessible::Table);
    QAccessibleTableInterface *t = table->tableInterface();
    ASSERT_TRUE(t);
    EXPECT_EQ(t->rowCount(), 2);
    EXPECT_EQ(t->columnCount(), 5) << "the full path and kilobyte columns stay hidden";
    EXPECT_EQ(t->columnDescription(4), "Pages");
    EXPECT_EQ(t->cellAt(1, 0)->text(QAccessible::Name), "three.pdf");
    EXPECT_EQ(t->cellAt(1, 4)->text(QAccessible::Description), "Damaged beyond repair") << "the reason is read too";

    QStringList everything;
    ASSERT_EQ(table->childCount(), 5 * 3) << "a header row and two rows";
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface *cell = table->child(i);
        ASSERT_TRUE(cell) << i;
        EXPECT_EQ(table->indexOfChild(cell), i);
        everything << cell->text(QAccessible::Name);
    }
    EXPECT_EQ(everything.mid(0, 5), (QStringList{"File Name", "Location", "Size", "Modified Date", "Pages"}));
    EXPECT_FALSE(everything.contains("deleted.pdf"));
    EXPECT_FALSE(everything.contains("/s/one.tif"));

    // The cursor on a row reports that row's place among the visible ones.
    grid.setRow(3);
    QAccessibleInterface *focus = table->focusChild();
    ASSERT_TRUE(focus);
    EXPECT_EQ(focus->text(QAccessible::Name), "three.pdf");
    EXPECT_EQ(focus->tableCellInterface()->rowIndex(), 1);

    grid.setRowHiddenFlag(2, false);
    EXPECT_EQ(t->rowCount(), 3);
    EXPECT_EQ(t->cellAt(1, 0)->text(QAccessible::Name), "deleted.pdf");
    grid.setIsSelected(3, true);
    EXPECT_EQ(t->selectedRows(), QList<int>{2});
}

}  // namespace
