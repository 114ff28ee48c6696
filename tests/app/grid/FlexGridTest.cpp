#include "FlexGrid.h"
#include "FlexGridModel.h"
#include "GuiTestEnvironment.h"
#include "Twips.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

class FlexGridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        grid = std::make_unique<FlexGrid>();
        tester = std::make_unique<QAbstractItemModelTester>(grid->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        grid->setCols(3);
        grid->setTextMatrix(0, 0, "Name");
        grid->setTextMatrix(0, 1, "Number");
        grid->setTextMatrix(0, 2, "Note");
        grid->setSelectionMode(FlexGrid::SelectionListBox);
        grid->resize(500, 300);
    }

    void fill(const std::vector<std::pair<QString, QString>> &rows)
    {
        for (const auto &[name, number] : rows)
            grid->appendRow({name, number});
    }

    QStringList column(int col) const
    {
        QStringList out;
        for (int r = 1; r < grid->rows(); ++r)
            out << grid->textMatrix(r, col);
        return out;
    }

    std::unique_ptr<FlexGrid> grid;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(FlexGridTest, HeaderRowIsRowZeroAndShownAsHeader)
{
    fill({{"a", "1"}, {"b", "2"}});
    EXPECT_EQ(grid->rows(), 3);
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Number");
    EXPECT_EQ(grid->textMatrix(2, 0), "b");
    EXPECT_EQ(grid->model()->index(1, 0).data().toString(), "b");
    // Out-of-range cells read empty and ignore writes.
    EXPECT_EQ(grid->textMatrix(7, 0), "");
    grid->setTextMatrix(7, 0, "x");
    grid->setTextMatrix(1, 9, "x");
    EXPECT_EQ(grid->rows(), 3);
}

TEST_F(FlexGridTest, AppendedRowsReachTheViewInABatchWithTheirCells)
{
    fill({{"a", "1"}});
    grid->setIsSelected(1, true);
    FlexGridModel *m = grid->model();  // announces what is there so far
    ASSERT_EQ(m->rowCount(), 1);
    QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
    grid->setRows(grid->rows() + 1);  // the way a search adds a row, then writes it
    grid->setTextMatrix(2, 0, "b");
    grid->appendRow({"c"});
    EXPECT_EQ(grid->rows(), 4);  // the grid counts them at once
    EXPECT_EQ(grid->textMatrix(3, 0), "c");
    ASSERT_TRUE(inserted.wait(2000));
    EXPECT_EQ(inserted.count(), 1);  // one announcement for both rows
    EXPECT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->index(1, 0).data().toString(), "b");
    EXPECT_EQ(grid->selectedRows(), 1);
    EXPECT_TRUE(grid->isSelected(1));
}

TEST_F(FlexGridTest, RowsShrinkAndGrowKeepTheHeader)
{
    fill({{"a", "1"}, {"b", "2"}});
    grid->setRows(1);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(grid->textMatrix(0, 0), "Name");
    grid->setRows(3);
    EXPECT_EQ(grid->textMatrix(1, 0), "");  // new rows start empty, old texts are gone
    grid->setTextMatrix(2, 2, "note");
    EXPECT_EQ(grid->textMatrix(2, 2), "note");
    EXPECT_EQ(grid->textMatrix(2, 1), "");
}

TEST_F(FlexGridTest, CellTextsOfAnyLengthAndContent)
{
    grid->setRows(2);
    const QString longText(70000, QChar(u'x'));
    const QString odd = QString::fromUtf8("tab\tcr\rnul") + QChar(0) + QString::fromUtf8("é");
    grid->setTextMatrix(1, 1, longText);
    grid->setTextMatrix(1, 0, odd);
    grid->setTextMatrix(1, 2, "z");
    EXPECT_EQ(grid->textMatrix(1, 1), longText);
    EXPECT_EQ(grid->textMatrix(1, 0), odd);
    EXPECT_EQ(grid->textMatrix(1, 2), "z");
    grid->setTextMatrix(1, 1, "");
    EXPECT_EQ(grid->textMatrix(1, 1), "");
    EXPECT_EQ(grid->textMatrix(1, 2), "z");
}

TEST_F(FlexGridTest, SelectionAndCursorFollowTheirRowsThroughASort)
{
    fill({{"c", "3"}, {"a", "1"}, {"b", "2"}});
    grid->setIsSelected(1, true);  // "c"
    grid->setIsSelected(3, true);  // "b"
    grid->setRow(2);               // "a"
    grid->sortByColumn(0, FlexGrid::SortedAscending);
    ASSERT_EQ(column(0), QStringList({"a", "b", "c"}));
    EXPECT_EQ(grid->textMatrix(grid->row(), 0), "a");
    ASSERT_EQ(grid->selectedRows(), 2);
    EXPECT_EQ(grid->textMatrix(grid->selectedRow(0), 0), "b");
    EXPECT_EQ(grid->textMatrix(grid->selectedRow(1), 0), "c");
    EXPECT_FALSE(grid->isSelected(1));
}

TEST_F(FlexGridTest, HiddenRowStaysWithItsRowThroughSorts)
{
    fill({{"c", "3"}, {"a", "1"}, {"b", "2"}});
    grid->setRowHiddenFlag(3, true);  // "b"
    for (auto order : {FlexGrid::SortedAscending, FlexGrid::SortedDescending}) {
        grid->sortByColumn(0, order);
        for (int r = 1; r < grid->rows(); ++r) {
            const bool isB = grid->textMatrix(r, 0) == "b";
            EXPECT_EQ(grid->rowHidden(r), isB) << r;
            EXPECT_EQ(grid->view()->isRowHidden(r - 1), isB) << r;
        }
    }
}

TEST_F(FlexGridTest, HeaderClickSortsAscendingThenDescendingAndReports)
{
    fill({{"b", "10"}, {"a", "9"}, {"c", "100"}});
    grid->setColDataType(1, FlexGrid::TypeDecimal);
    grid->setHeaderSorting(true);
    grid->show();
    QSignalSpy spy(grid.get(), &FlexGrid::afterSort);
    QHeaderView *header = grid->view()->horizontalHeader();
    const QPoint onNumber(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onNumber);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(spy.at(0).at(1).toInt(), FlexGrid::SortedAscending);
    EXPECT_EQ(column(1), QStringList({"9", "10", "100"}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onNumber);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(1).toInt(), FlexGrid::SortedDescending);
    EXPECT_EQ(column(1), QStringList({"100", "10", "9"}));
}

TEST_F(FlexGridTest, HeaderClickDoesNothingWhenSortingIsOff)
{
    fill({{"b", "1"}, {"a", "2"}});
    grid->show();
    QSignalSpy spy(grid.get(), &FlexGrid::afterSort);
    QHeaderView *header = grid->view()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(5, header->height() / 2));
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(column(0), QStringList({"b", "a"}));
}

TEST_F(FlexGridTest, SortSelectionUsesColumnSortSettingsOnTheRangeOnly)
{
    fill({{"z", "5"}, {"y", "30"}, {"x", "4"}, {"w", "1"}});
    grid->setColSort(1, FlexGrid::SortNumericDescending);
    grid->select(1, 1, 3, 1);  // rows 1..3 only; row 4 ("w") stays last
    grid->sortSelection();
    EXPECT_EQ(column(0), QStringList({"y", "z", "x", "w"}));
}

TEST_F(FlexGridTest, SortByTwoColumnsLeftmostFirst)
{
    fill({{"b", "2"}, {"a", "2"}, {"c", "1"}});
    grid->setColSort(0, FlexGrid::SortStringAscending);
    grid->setColSort(1, FlexGrid::SortNumericAscending);
    grid->setColPosition(1, 0);  // number first, name second
    grid->select(1, 0, 3, 1);
    grid->sortSelection();
    EXPECT_EQ(column(1), QStringList({"c", "a", "b"}));
}

TEST_F(FlexGridTest, ColumnMoveCarriesCellsAndSettings)
{
    fill({{"a", "1"}});
    grid->setCellPicture(1, 0, QPixmap(4, 4));
    grid->setColWidth(0, 1500);
    grid->setColHidden(2, true);
    grid->setColPosition(0, 2);
    EXPECT_EQ(grid->textMatrix(0, 2), "Name");
    EXPECT_EQ(grid->textMatrix(1, 2), "a");
    EXPECT_EQ(grid->textMatrix(1, 0), "1");
    EXPECT_FALSE(grid->cellPicture(1, 2).isNull());
    EXPECT_TRUE(grid->cellPicture(1, 0).isNull());
    EXPECT_EQ(grid->colWidth(2), 1500);
    EXPECT_TRUE(grid->colHidden(1));  // the hidden "Note" column moved left by one
    EXPECT_TRUE(grid->view()->isColumnHidden(1));
    EXPECT_FALSE(grid->view()->isColumnHidden(2));
    grid->setCols(2);
    EXPECT_EQ(grid->cols(), 2);
    EXPECT_EQ(grid->textMatrix(1, 2), "");
}

TEST_F(FlexGridTest, ColumnWidthInTwipsSurvivesHiding)
{
    grid->setColWidth(1, 2200);
    grid->setColHidden(1, true);
    EXPECT_EQ(grid->colWidth(1), 2200);
    grid->setColHidden(1, false);
    EXPECT_EQ(grid->view()->columnWidth(1), platform::twipsToPixels(2200));
}

TEST_F(FlexGridTest, ListBoxSelectionCountsAndInverts)
{
    fill({{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}, {"e", ""}});
    grid->setIsSelected(2, true);
    grid->setIsSelected(4, true);
    grid->setIsSelected(5, true);
    EXPECT_EQ(grid->selectedRows(), 3);
    EXPECT_EQ(grid->selectedRow(0), 2);
    EXPECT_EQ(grid->selectedRow(2), 5);
    EXPECT_EQ(grid->selectedRow(3), -1);
    grid->invertRowSelection();
    ASSERT_EQ(grid->selectedRows(), 2);
    EXPECT_EQ(grid->selectedRow(0), 1);
    EXPECT_EQ(grid->selectedRow(1), 3);
    grid->setIsSelected(-1, true);
    EXPECT_EQ(grid->selectedRows(), 5);
    grid->invertRowSelection();
    EXPECT_EQ(grid->selectedRows(), 0);
    grid->setIsSelected(3, false);
    EXPECT_EQ(grid->selectedRows(), 0);
}

TEST_F(FlexGridTest, CheckBoxEditingAsksFirstAndCanBeRefused)
{
    grid->setRows(3);
    grid->setColDataType(2, FlexGrid::TypeBoolean);
    grid->setEditable(true);
    grid->setCellChecked(1, 2, FlexGrid::Checked);
    EXPECT_EQ(grid->cellChecked(2, 2), FlexGrid::Unchecked);  // boolean cells start cleared
    EXPECT_EQ(grid->cellChecked(1, 1), FlexGrid::NoCheckbox);

    QList<std::pair<int, int>> asked;
    QObject::connect(grid.get(), &FlexGrid::beforeEdit, grid.get(), [&](int row, int col, bool *cancel) {
        asked.append({row, col});
        *cancel = col != 2;  // only the check boxes may change
    });
    grid->show();
    QTableView *view = grid->view();
    view->setFocus();
    grid->setRow(1);
    grid->setCol(2);
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_EQ(grid->cellChecked(1, 2), FlexGrid::Unchecked);
    // Typing over a text cell is refused by the handler.
    grid->setCol(0);
    QTest::keyClick(view, Qt::Key_X);
    EXPECT_EQ(grid->textMatrix(1, 0), "");
    EXPECT_FALSE(view->indexWidget(view->currentIndex()));
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked.at(0), std::make_pair(1, 2));
    EXPECT_EQ(asked.at(1), std::make_pair(1, 0));
}

TEST_F(FlexGridTest, ReadOnlyGridNeverAsksToEdit)
{
    grid->setRows(2);
    grid->setColDataType(2, FlexGrid::TypeBoolean);
    QSignalSpy spy(grid.get(), &FlexGrid::beforeEdit);
    grid->show();
    grid->setRow(1);
    grid->setCol(2);
    QTest::keyClick(grid->view(), Qt::Key_Space);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(grid->cellChecked(1, 2), FlexGrid::Unchecked);
}

TEST_F(FlexGridTest, KeyDownReportsVirtualKeyCodesAndCanStopTheKey)
{
    fill({{"a", ""}, {"b", ""}});
    grid->show();
    grid->setRow(1);
    QList<int> codes;
    QObject::connect(grid.get(), &FlexGrid::keyDown, grid.get(),
                     [&](int code, Qt::KeyboardModifiers, bool *handled) {
                         codes.append(code);
                         *handled = code == 40;
                     });
    QTest::keyClick(grid->view(), Qt::Key_Menu);
    QTest::keyClick(grid->view(), Qt::Key_Delete);
    QTest::keyClick(grid->view(), Qt::Key_Down);
    EXPECT_EQ(codes, QList<int>({93, 46, 40}));
    EXPECT_EQ(grid->row(), 1);  // the handler stopped the cursor move
}

TEST_F(FlexGridTest, MouseRowAndColumnOverCellsHeaderAndEmptyArea)
{
    fill({{"a", ""}, {"b", ""}});
    grid->show();
    QTableView *view = grid->view();
    QList<int> buttons;
    QObject::connect(grid.get(), &FlexGrid::mouseDown, grid.get(),
                     [&](int button, Qt::KeyboardModifiers, QPoint) { buttons.append(button); });
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(grid->model()->index(1, 1)).center());
    EXPECT_EQ(grid->mouseRow(), 2);
    EXPECT_EQ(grid->mouseCol(), 1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, view->viewport()->height() - 3));
    EXPECT_EQ(grid->mouseRow(), -1);
    QHeaderView *header = view->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, QPoint(5, header->height() / 2));
    EXPECT_EQ(grid->mouseRow(), 0);
    EXPECT_EQ(grid->mouseCol(), 0);
    EXPECT_EQ(buttons, QList<int>({2, 1, 2}));
}

struct SeparatorCase {
    const char *name;
    QString separators;
};

void PrintTo(const SeparatorCase &c, std::ostream *os) { *os << c.name; }

class SaveLoadTest : public FlexGridTest, public ::testing::WithParamInterface<SeparatorCase>
{
};

TEST_P(SaveLoadTest, RoundTripKeepsEveryCellAndTheHeader)
{
    grid->setClipSeparators(GetParam().separators);
    fill({{"plain", "1,234 KB"}, {"with\ttab", "semi;colon"}, {"quote \"x\"", "line\nbreak"}, {"", ""}});
    grid->setTextMatrix(2, 2, "cr\rhere");
    grid->setTextMatrix(3, 2, QString::fromUtf8("ünï"));
    grid->setTextMatrix(3, 1, "pipe|inside");
    QTemporaryDir dir;
    const QString path = dir.filePath("grid.txt");
    QString error;
    ASSERT_TRUE(grid->saveGrid(path, &error)) << error.toStdString();

    FlexGrid copy;
    QAbstractItemModelTester copyTester(copy.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    copy.setClipSeparators(GetParam().separators);
    ASSERT_TRUE(copy.loadGrid(path, &error)) << error.toStdString();
    ASSERT_EQ(copy.rows(), grid->rows());
    ASSERT_EQ(copy.cols(), grid->cols());
    for (int r = 0; r < grid->rows(); ++r)
        for (int c = 0; c < grid->cols(); ++c)
            EXPECT_EQ(copy.textMatrix(r, c), grid->textMatrix(r, c)) << r << "," << c;
}

INSTANTIATE_TEST_SUITE_P(Separators, SaveLoadTest,
                         ::testing::Values(SeparatorCase{"defaults", QString()},
                                           SeparatorCase{"comma", QStringLiteral(",\r")},
                                           SeparatorCase{"semicolon_lf", QStringLiteral(";\n")},
                                           SeparatorCase{"pipe_rows", QStringLiteral(",|")}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FlexGridTest, LoadGridReadsForeignLineEndsAndFailsCleanly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("in.txt");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("H1\tH2\r\na\tb\nc\r\n");
    f.close();
    ASSERT_TRUE(grid->loadGrid(path));
    EXPECT_EQ(grid->rows(), 3);
    EXPECT_EQ(grid->cols(), 2);
    EXPECT_EQ(grid->textMatrix(0, 1), "H2");
    EXPECT_EQ(grid->textMatrix(2, 0), "c");
    EXPECT_EQ(grid->textMatrix(2, 1), "");

    QString error;
    EXPECT_FALSE(grid->loadGrid(dir.filePath("missing.txt"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(grid->rows(), 3);  // unchanged
    EXPECT_FALSE(grid->saveGrid(dir.filePath("no/such/dir/out.txt"), &error));
}

TEST_F(FlexGridTest, LookSettersKeepValuesAndUnknownStyleCodes)
{
    grid->setGridLines(14);
    EXPECT_EQ(grid->gridLines(), 14);
    grid->setForeColor(QColor(255, 0, 0));
    grid->setForeColor(QColor());  // an invalid colour changes nothing
    EXPECT_EQ(grid->foreColor(), QColor(255, 0, 0));
    grid->setRowHeightMin(600);
    EXPECT_GE(grid->view()->verticalHeader()->defaultSectionSize(), platform::twipsToPixels(600));
}

}  // namespace
