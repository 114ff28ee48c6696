// Listed files kept as values in the result grid: the texts they show, their order when sorted
// (the same as rows written as text), the selection and cursor following them, and the text
// contract still holding when a cell is written over.

#include "AppSettings.h"
#include "FileNames.h"
#include "FlexGridModel.h"
#include "GuiTestEnvironment.h"
#include "PageResult.h"
#include "ResultGrid.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QLocale>
#include <QMimeData>
#include <QTableView>
#include <QTest>

#include <memory>

namespace {

std::vector<search::CountedFile> files()
{
    std::vector<search::CountedFile> out;
    const QByteArray folders[] = {"/srv/b", "/srv/a10", "/srv/a2", "/srv/\xe9"};
    const QByteArray names[] = {"x10.tif", "x2.TIF", "X1.pdf", "n.txt", "12 ab", "\xff.pdf", "same.tif", "same.pdf"};
    const int32_t pages[] = {4, 0, search::kDamaged, 7, 300, search::kCounterMissing, 12, 4, 9};
    const uint64_t sizes[] = {0, 1, 1024, 1025, 3000, 2048, 1000, 5ULL << 40, 700};
    int i = 0;
    for (const QByteArray &folder : folders) {
        for (const QByteArray &name : names) {
            search::CountedFile f;
            f.folder = folder;
            f.name = name;
            f.path = folder + '/' + name;
            f.factsKnown = i % 13 != 6;
            f.size = sizes[size_t(i) % std::size(sizes)];
            // Several files share a minute; seconds differ within it.
            f.modified = QDateTime::fromSecsSinceEpoch(1600000000 + (i % 5) * 86400 * 40 + (i % 3) * 7);
            f.type = search::fileTypeOf(name);
            f.pages = pages[size_t(i) % std::size(pages)];
            out.push_back(f);
            ++i;
        }
    }
    return out;
}

class ResultRowsTest : public ::testing::Test
{
protected:
    std::unique_ptr<ResultGrid> makeGrid()
    {
        auto g = std::make_unique<ResultGrid>();
        g->SetUpResultGrid(modGlobal::SettingsRecord::defaults());
        testers.push_back(std::make_unique<QAbstractItemModelTester>(
            g->model(), QAbstractItemModelTester::FailureReportingMode::Fatal));
        return g;
    }

    static QStringList cells(const ResultGrid &g, int row)
    {
        QStringList out;
        for (int c = 0; c < ResultColumnCount; ++c)
            out << g.textMatrix(row, c);
        out << g.cellToolTip(row, ColPages);
        return out;
    }

    static QStringList pathOrder(const ResultGrid &g)
    {
        QStringList out;
        for (int r = 1; r < g.rows(); ++r)
            out << g.textMatrix(r, ColFullPath);
        return out;
    }

    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
};

TEST_F(ResultRowsTest, FileRowsShowWhatTheirTextsWouldShow)
{
    auto asFiles = makeGrid();
    auto asTexts = makeGrid();
    for (const search::CountedFile &f : files()) {
        asFiles->AppendFile(f, QPixmap());
        asTexts->AppendResultRow(ResultGrid::rowTexts(f));
    }
    ASSERT_EQ(asFiles->rows(), asTexts->rows());
    for (int r = 1; r < asFiles->rows(); ++r) {
        EXPECT_EQ(cells(*asFiles, r), cells(*asTexts, r)) << "row " << r;
        EXPECT_EQ(asFiles->filePath(r), asTexts->filePath(r)) << "row " << r;
        EXPECT_EQ(asFiles->pageFacts(r).pages, asTexts->pageFacts(r).pages) << "row " << r;
        if (asTexts->pageFacts(r).pages >= 0) {
            EXPECT_EQ(asFiles->pageFacts(r).type, asTexts->pageFacts(r).type) << "row " << r;
        }
    }
    // The model hands out the same texts the grid does.
    const QModelIndex i = asFiles->model()->index(2, ColPages);
    EXPECT_EQ(i.data().toString(), asFiles->textMatrix(3, ColPages));
    EXPECT_EQ(i.data(Qt::ToolTipRole).toString(), asFiles->cellToolTip(3, ColPages));
}

// Every column and direction, one click after another, on files, on texts and on both mixed:
// the three grids keep the same order throughout.
TEST_F(ResultRowsTest, FilesSortAsTheirTextsDoAloneAndMixed)
{
    auto asFiles = makeGrid();
    auto asTexts = makeGrid();
    auto mixed = makeGrid();
    int i = 0;
    for (const search::CountedFile &f : files()) {
        asFiles->AppendFile(f, QPixmap());
        asTexts->AppendResultRow(ResultGrid::rowTexts(f));
        if (i++ % 3 == 0)
            mixed->AppendResultRow(ResultGrid::rowTexts(f));
        else
            mixed->AppendFile(f, QPixmap());
    }
    for (int step = 0; step < 20; ++step) {
        const int col = (step * 2) % 5;
        const int order = 1 + (step / 5) % 2;
        for (ResultGrid *g : {asFiles.get(), asTexts.get(), mixed.get()})
            g->SortBy(col, order);
        const QStringList expected = pathOrder(*asTexts);
        EXPECT_EQ(pathOrder(*asFiles), expected) << "column " << col << " order " << order;
        EXPECT_EQ(pathOrder(*mixed), expected) << "column " << col << " order " << order;
    }
}

TEST_F(ResultRowsTest, SelectionAndCursorFollowTheirFilesThroughSorts)
{
    auto g = makeGrid();
    for (const search::CountedFile &f : files())
        g->AppendFile(f, QPixmap());
    g->resize(800, 400);
    g->show();
    for (int r : {2, 5, 11, 17, 30})
        g->setIsSelected(r, true);
    g->setRow(11);
    auto selectedPaths = [&] {
        QList<QByteArray> paths;
        for (int k = 0; k < g->selectedRows(); ++k)
            paths << g->filePath(g->selectedRow(k));
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    const QList<QByteArray> before = selectedPaths();
    const QByteArray current = g->filePath(11);
    for (int col = 0; col < 5; ++col) {
        for (int order : {2, 1}) {
            g->SortBy(col, order);
            EXPECT_EQ(selectedPaths(), before) << "column " << col;
            EXPECT_EQ(g->filePath(g->row()), current) << "column " << col;
        }
    }
}

TEST_F(ResultRowsTest, AppendedFilesReachTheViewsInOneBatch)
{
    // A search appends one file per event-loop turn; a view told of each row lays out and
    // repaints once per row, which costs more than the search.
    auto g = makeGrid();
    g->resize(800, 400);
    g->show();
    QAbstractItemModel *m = g->view()->model();
    int announced = 0;
    QObject::connect(m, &QAbstractItemModel::rowsInserted, m, [&] { ++announced; });
    for (const search::CountedFile &f : files())
        g->AppendFile(f, QPixmap());
    EXPECT_EQ(announced, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return announced > 0; }, 5000));
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(m->rowCount(), int(files().size()));
}

TEST_F(ResultRowsTest, WritingACellKeepsTheRestOfTheRow)
{
    auto g = makeGrid();
    const std::vector<search::CountedFile> all = files();
    g->AppendFile(all[2], QPixmap());  // a count that failed: "Error" with its reason
    const QStringList before = cells(*g, 1);
    ASSERT_EQ(before[ColPages], "Error");
    ASSERT_FALSE(before.last().isEmpty());

    g->setTextMatrix(1, ColPages, QStringLiteral("5"));
    QStringList after = before;
    after[ColPages] = QStringLiteral("5");
    EXPECT_EQ(cells(*g, 1), after) << "the reason stays with the cell as its tooltip";
    EXPECT_EQ(g->pageFacts(1).pages, 5);
    EXPECT_EQ(g->filePath(1), all[2].path);

    // Writing the text a cell already shows changes nothing.
    g->AppendFile(all[0], QPixmap());
    g->setTextMatrix(2, ColFileName, g->textMatrix(2, ColFileName));
    EXPECT_NE(g->model()->valueId(2), FlexGridModel::kTextRow);
}

TEST_F(ResultRowsTest, ExactBytesOfAPathThatIsNotUtf8)
{
    auto g = makeGrid();
    search::CountedFile f = files()[5];  // "\xff.pdf"
    ASSERT_EQ(f.name, QByteArray("\xff.pdf"));
    g->AppendFile(f, QPixmap());
    EXPECT_EQ(g->filePath(1), f.path);
    EXPECT_EQ(g->textMatrix(1, ColFileName), QString(QChar::ReplacementCharacter) + ".pdf");
    std::unique_ptr<QMimeData> drag(g->fileUriList({1}));
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->data(ResultGrid::uriListType()), QByteArray("file:///srv/b/%FF.pdf\r\n"));
}

TEST_F(ResultRowsTest, APathThatIsNotFolderAndNameIsKeptAsItsTexts)
{
    auto g = makeGrid();
    search::CountedFile f = files()[0];
    f.path = "/elsewhere/" + f.name;
    g->AppendFile(f, QPixmap());
    EXPECT_EQ(g->model()->valueId(1), FlexGridModel::kTextRow);
    EXPECT_EQ(g->filePath(1), f.path);
    EXPECT_EQ(g->textMatrix(1, ColLocation), "/srv/b");
}

TEST_F(ResultRowsTest, ClearingTheGridForgetsTheFiles)
{
    auto g = makeGrid();
    const std::vector<search::CountedFile> all = files();
    for (const search::CountedFile &f : all)
        g->AppendFile(f, QPixmap());
    g->ClearRows();
    EXPECT_EQ(g->rows(), 1);
    g->AppendFile(all[3], QPixmap());
    EXPECT_EQ(g->rows(), 2);
    EXPECT_EQ(g->filePath(1), all[3].path);
    EXPECT_EQ(g->model()->valueId(1), 0u) << "a fresh store after the clear";
}

}  // namespace
