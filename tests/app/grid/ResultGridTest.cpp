#include "AppSettings.h"
#include "FifoRescue.h"
#include "FileNames.h"
#include "FlexGridModel.h"
#include "GuiTestEnvironment.h"
#include "ResultGrid.h"
#include "Twips.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using modGlobal::SettingsRecord;

namespace {

class ResultGridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        grid = std::make_unique<ResultGrid>();
        tester = std::make_unique<QAbstractItemModelTester>(grid->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        settings = SettingsRecord::defaults();
        grid->ApplyStartupAppearance(settings);
        grid->SetUpResultGrid(settings);
        grid->resize(900, 400);
    }

    int add(const QString &name, qint64 kb, const QDateTime &modified, const QString &pages = QString())
    {
        ResultRow row;
        row.FileName = name;
        row.Location = QStringLiteral("/scans");
        row.SizeKb = ResultGrid::sizeKbText(kb);
        row.ModifiedDate = ResultGrid::modifiedDateText(modified);
        row.FullPath = QStringLiteral("/scans/") + name;
        row.Pages = pages;
        return grid->AppendResultRow(row);
    }

    QStringList names() const
    {
        QStringList out;
        for (int r = 1; r < grid->rows(); ++r)
            out << grid->textMatrix(r, ColFileName);
        return out;
    }

    void clickHeader(int col, Qt::MouseButton button = Qt::LeftButton)
    {
        QHeaderView *header = grid->view()->horizontalHeader();
        QTest::mouseClick(header->viewport(), button, {},
                          QPoint(header->sectionViewportPosition(col) + 5, header->height() / 2));
    }

    // Columns (0..6) whose header shows a picture.
    QList<int> arrowColumns() const
    {
        QList<int> out;
        for (int c = 0; c < grid->cols(); ++c)
            if (!grid->cellPicture(0, c).isNull())
                out << c;
        return out;
    }

    const QDateTime when{QDate(2005, 3, 1), QTime(10, 0)};
    std::unique_ptr<ResultGrid> grid;
    std::unique_ptr<QAbstractItemModelTester> tester;
    SettingsRecord settings;
};

TEST_F(ResultGridTest, SetUpGivesTheColumnLayout)
{
    EXPECT_EQ(grid->objectName(), "vsFiles");
    EXPECT_EQ(grid->rows(), 1);
    EXPECT_EQ(grid->cols(), 7);
    const QStringList headers{"File Name", "Location", "Size", "Modified Date", "Pages", "", ""};
    const int widths[] = {1500, 2500, 1000, 2200, 1000};
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(grid->textMatrix(0, c), headers.at(c));
        EXPECT_EQ(grid->colHidden(c), c >= 5) << c;
        const bool right = c == ColSize || c == ColPages;
        EXPECT_EQ(grid->colAlignment(c), (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter) << c;
    }
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid->colWidth(c), widths[c]);
    EXPECT_EQ(grid->colDataType(ColSize), FlexGrid::TypeDecimal);
    EXPECT_EQ(grid->colDataType(ColModifiedDate), FlexGrid::TypeDate);
    EXPECT_FALSE(grid->editable());
    EXPECT_EQ(grid->selectionMode(), FlexGrid::SelectionListBox);
    EXPECT_TRUE(grid->headerSorting());
    EXPECT_EQ(grid->rowHeightMin(), 260);
}

TEST_F(ResultGridTest, RowsAreWrittenInColumnOrder)
{
    const int r = add("a.tif", 1025, when, "Error");
    EXPECT_EQ(r, 1);
    EXPECT_EQ(grid->textMatrix(r, ColSize), "1,025 KB");
    EXPECT_EQ(grid->textMatrix(r, ColSizeKb), "1,025");
    EXPECT_EQ(grid->textMatrix(r, ColModifiedDate), "03/01/2005 10:00 AM");
    EXPECT_EQ(grid->textMatrix(r, ColFullPath), "/scans/a.tif");
    EXPECT_EQ(grid->textMatrix(r, ColPages), "Error");
    EXPECT_EQ(ResultGrid::sizeKbText(0), "0");
    EXPECT_EQ(ResultGrid::modifiedDateText(QDateTime(QDate(2004, 12, 31), QTime(23, 5))), "12/31/2004 11:05 PM");
}

TEST_F(ResultGridTest, AppearanceComesFromTheSettings)
{
    settings.GridStyle = 13;
    settings.ForeColor = 255;                          // pure red
    settings.BackColorSel = 0x00FF0000;                // blue
    settings.BackColor = modGlobal::oleSystemColor(5);  // window background
    grid->RefreshGrid(settings);
    EXPECT_EQ(grid->gridLines(), 13);
    EXPECT_EQ(grid->foreColor(), QColor(255, 0, 0));
    EXPECT_EQ(grid->backColorSel(), QColor(0, 0, 255));
    EXPECT_EQ(grid->backColor(), grid->palette().color(QPalette::Active, QPalette::Base));

    settings.ShowGrid = 0;
    grid->RefreshGrid(settings);
    EXPECT_EQ(grid->gridLines(), 0);
    settings.ShowGrid = 1;
    grid->RefreshGrid(settings);
    EXPECT_EQ(grid->gridLines(), 13);
}

TEST_F(ResultGridTest, BackPictureLoadsAndAMissingOneLeavesNone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("paper.png");
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::yellow);
    ASSERT_TRUE(img.save(path));
    settings.BackPicture = path;
    grid->RefreshGrid(settings);
    EXPECT_FALSE(grid->backPicture().isNull());
    settings.BackPicture = dir.filePath("missing.bmp");
    settings.GridStyle = 4;
    grid->RefreshGrid(settings);
    EXPECT_TRUE(grid->backPicture().isNull());
    EXPECT_EQ(grid->gridLines(), 4);  // later steps still ran
    settings.BackPicture = path;
    grid->RefreshGrid(settings);
    settings.BackPicture.clear();
    grid->RefreshGrid(settings);
    EXPECT_TRUE(grid->backPicture().isNull());
}

// Only a regular file holding a picture becomes the background; anything else under the name
// leaves the grid without one, at once, and the rest of the look still applies.
struct PictureCase {
    const char *label;
    QByteArray name;  // file name bytes in a scratch folder
    enum Kind { Picture, Garbage, Folder, Fifo, LinkToPicture } kind;
    bool shown;
};

void PrintTo(const PictureCase &c, std::ostream *os)
{
    *os << c.label;
}

class BackPictureTest : public ResultGridTest, public ::testing::WithParamInterface<PictureCase>
{
};

TEST_P(BackPictureTest, OnlyARegularPictureFileIsShown)
{
    const PictureCase &c = GetParam();
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    const QByteArray path = folder + c.name;
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::yellow);
    std::unique_ptr<FifoRescue> fifo;
    switch (c.kind) {
    case PictureCase::Picture: {
        QFile f(QString::fromLatin1("%1/%2").arg(dir.path(), "made.png"));
        ASSERT_TRUE(img.save(&f, "PNG"));
        ASSERT_EQ(::rename(QFile::encodeName(f.fileName()).constData(), path.constData()), 0);
        break;
    }
    case PictureCase::Garbage: {
        QFile f(QFile::decodeName(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture at all");
        break;
    }
    case PictureCase::Folder:
        ASSERT_EQ(::mkdir(path.constData(), 0700), 0);
        break;
    case PictureCase::Fifo:
        fifo = std::make_unique<FifoRescue>(path.toStdString());
        ASSERT_TRUE(fifo->made());
        break;
    case PictureCase::LinkToPicture:
        ASSERT_TRUE(img.save(dir.filePath("real.png")));
        ASSERT_EQ(::symlink("real.png", path.constData()), 0);
        break;
    }
    settings.BackPicture = platform::pathToText(path);
    settings.GridStyle = 4;
    grid->RefreshGrid(settings);
    if (fifo) {
        EXPECT_FALSE(fifo->rescued()) << "opening the FIFO waited for a writer";
    }
    EXPECT_EQ(!grid->backPicture().isNull(), c.shown);
    EXPECT_EQ(grid->gridLines(), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BackPictureTest,
    ::testing::Values(PictureCase{"plain PNG", "paper.png", PictureCase::Picture, true},
                      PictureCase{"PNG named without extension", "paper", PictureCase::Picture, true},
                      PictureCase{"name that is not UTF-8", "pap\xE9r\xFF.png", PictureCase::Picture, true},
                      PictureCase{"link to a PNG", "link.png", PictureCase::LinkToPicture, true},
                      PictureCase{"not a picture", "text.png", PictureCase::Garbage, false},
                      PictureCase{"folder", "folder.png", PictureCase::Folder, false},
                      PictureCase{"FIFO nobody writes to", "pipe.png", PictureCase::Fifo, false}));

struct VisibilityCase {
    const char *name;
    QStringList entries;
    std::array<bool, 5> visible;
};

void PrintTo(const VisibilityCase &c, std::ostream *os) { *os << '"' << c.entries.join(',').toStdString() << '"'; }

class ColumnVisibilityTest : public ResultGridTest, public ::testing::WithParamInterface<VisibilityCase>
{
};

TEST_P(ColumnVisibilityTest, EntriesShowOrHideTheDataColumns)
{
    // Start from "all hidden but the first" so that columns without an entry show they keep state.
    settings.ColumnVisibility = QStringList{"1", "0", "0", "0", "0"};
    grid->RefreshGrid(settings);
    settings.ColumnVisibility = QStringList{"1", "1", "1", "1", "1"};
    grid->RefreshGrid(settings);

    settings.ColumnVisibility = GetParam().entries;
    grid->RefreshGrid(settings);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(!grid->colHidden(c), GetParam().visible[size_t(c)]) << c;
    EXPECT_TRUE(grid->colHidden(ColFullPath));
    EXPECT_TRUE(grid->colHidden(ColSizeKb));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ColumnVisibilityTest,
    ::testing::Values(
        VisibilityCase{"date_hidden", {"1", "1", "1", "0", "1"}, {true, true, true, false, true}},
        VisibilityCase{"empty_list", {}, {true, true, true, true, true}},
        VisibilityCase{"three_entries", {"0", "1", "0"}, {false, true, false, true, true}},
        VisibilityCase{"trailing_blanks", {"1  ", " 1", "yes", "1", "01"}, {true, false, false, true, false}},
        VisibilityCase{"too_many", {"1", "1", "1", "1", "1", "1", "1", "1"}, {true, true, true, true, true}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ResultGridTest, SetUpAppliesTheVisibilityList)
{
    ResultGrid fresh;
    settings.ColumnVisibility = QStringList{"1", "0", "1", "1", "1"};
    fresh.SetUpResultGrid(settings);
    EXPECT_TRUE(fresh.colHidden(ColLocation));
    EXPECT_FALSE(fresh.colHidden(ColSize));
}

TEST_F(ResultGridTest, SizeSortIsByKilobytesAndDrawsTheArrowInTheSizeHeader)
{
    add("thousand.tif", 1000, when);
    add("small.tif", 999, when);
    add("big.tif", 12000, when);
    add("zero.tif", 0, when);
    grid->show();
    clickHeader(ColSize);
    EXPECT_EQ(names(), QStringList({"zero.tif", "small.tif", "thousand.tif", "big.tif"}));
    EXPECT_EQ(arrowColumns(), QList<int>({ColSize}));
    EXPECT_EQ(grid->cellPictureAlignment(0, ColSize), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(grid->cellPicture(0, ColSize).toImage(), ResultGrid::sortArrow(true).toImage());

    clickHeader(ColSize);
    EXPECT_EQ(names(), QStringList({"big.tif", "thousand.tif", "small.tif", "zero.tif"}));
    EXPECT_EQ(grid->cellPicture(0, ColSize).toImage(), ResultGrid::sortArrow(false).toImage());

    clickHeader(ColFileName);  // the arrow moves: one header at a time
    EXPECT_EQ(arrowColumns(), QList<int>({ColFileName}));
}

TEST_F(ResultGridTest, ModifiedDateSortsAsTime)
{
    add("new.pdf", 1, QDateTime(QDate(2005, 1, 1), QTime(9, 0)));
    add("old.pdf", 1, QDateTime(QDate(2004, 12, 31), QTime(23, 0)));
    add("noon.pdf", 1, QDateTime(QDate(2005, 1, 1), QTime(12, 30)));
    grid->show();
    clickHeader(ColModifiedDate);
    EXPECT_EQ(names(), QStringList({"old.pdf", "new.pdf", "noon.pdf"}));
}

TEST_F(ResultGridTest, PagesSortNumbersThenErrorThenEmpty)
{
    add("a.tif", 1, when, "12");
    add("b.tif", 1, when, "Error");
    add("c.txt", 1, when, "");
    add("d.pdf", 1, when, "9");
    grid->show();
    clickHeader(ColPages);
    EXPECT_EQ(names(), QStringList({"b.tif", "d.pdf", "a.tif", "c.txt"}));
    clickHeader(ColPages);
    EXPECT_EQ(names(), QStringList({"a.tif", "d.pdf", "b.tif", "c.txt"}));
}

TEST_F(ResultGridTest, CursorAndSelectionStayOnTheirFilesThroughASizeSort)
{
    add("c.tif", 3, when);
    add("a.tif", 1, when);
    add("b.tif", 2, when);
    grid->setIsSelected(2, true);  // a.tif
    grid->setRow(1);               // c.tif
    grid->show();
    clickHeader(ColSize);
    ASSERT_EQ(names(), QStringList({"a.tif", "b.tif", "c.tif"}));
    EXPECT_EQ(grid->textMatrix(grid->row(), ColFileName), "c.tif");
    ASSERT_EQ(grid->selectedRows(), 1);
    EXPECT_EQ(grid->textMatrix(grid->selectedRow(0), ColFileName), "a.tif");
}

TEST_F(ResultGridTest, SelectAllAndInvertSelection)
{
    grid->InvertSelection();  // empty grid: nothing happens
    EXPECT_EQ(grid->selectedRows(), 0);
    add("1.tif", 1, when);
    add("2.tif", 1, when);
    add("3.tif", 1, when);
    grid->setIsSelected(2, true);
    grid->InvertSelection();
    ASSERT_EQ(grid->selectedRows(), 2);
    EXPECT_EQ(grid->selectedRow(0), 1);
    EXPECT_EQ(grid->selectedRow(1), 3);
    grid->setRowHiddenFlag(3, true);
    grid->SelectAll();
    EXPECT_EQ(grid->selectedRows(), 3);
    grid->InvertSelection();  // hidden rows toggle too
    EXPECT_EQ(grid->selectedRows(), 0);
}

TEST_F(ResultGridTest, RightClickOnHeaderOpensNothingOnADataRowOpensThePopup)
{
    add("a.tif", 1, when);
    add("b.tif", 1, when);
    grid->show();
    QSignalSpy popup(grid.get(), &ResultGrid::popupRequested);
    QSignalSpy sorted(grid.get(), &FlexGrid::afterSort);
    clickHeader(ColFileName, Qt::RightButton);
    EXPECT_EQ(popup.count(), 0);
    EXPECT_EQ(sorted.count(), 0);

    QTableView *view = grid->view();
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, QPoint(5, view->viewport()->height() - 3));
    EXPECT_EQ(popup.count(), 0);  // below the last row

    const QRect cell = view->visualRect(grid->model()->index(1, ColLocation));
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, cell.center());
    ASSERT_EQ(popup.count(), 1);
    EXPECT_EQ(popup.at(0).at(0).toPoint(), view->viewport()->mapToGlobal(cell.center()));
    // The clicked file is the one the menu acts on.
    EXPECT_EQ(grid->row(), 2);
    EXPECT_EQ(grid->selectedRows(), 1);
    EXPECT_TRUE(grid->isSelected(2));
}

TEST_F(ResultGridTest, RightClickInsideTheSelectionKeepsIt)
{
    add("a.tif", 1, when);
    add("b.tif", 1, when);
    add("c.tif", 1, when);
    grid->SelectAll();
    grid->show();
    QTableView *view = grid->view();
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(grid->model()->index(2, 0)).center());
    EXPECT_EQ(grid->selectedRows(), 3);
    EXPECT_EQ(grid->row(), 3);
}

TEST_F(ResultGridTest, MenuKeyOpensThePopupEvenWhenEmptyAndDeleteKeyAsksForDelete)
{
    grid->show();
    QSignalSpy popup(grid.get(), &ResultGrid::popupRequested);
    QSignalSpy del(grid.get(), &ResultGrid::deleteRequested);
    QTest::keyClick(grid->view(), Qt::Key_Menu);
    ASSERT_EQ(popup.count(), 1);
    EXPECT_EQ(popup.at(0).at(0).toPoint(), grid->mapToGlobal(QPoint(0, 0)));
    QTest::keyClick(grid->view(), Qt::Key_Delete);
    EXPECT_EQ(del.count(), 1);
}

TEST_F(ResultGridTest, RefreshKeepsRowsWidthsSortAndSelection)
{
    add("b.tif", 2, when);
    add("a.tif", 1, when);
    grid->show();
    clickHeader(ColFileName);
    grid->setIsSelected(1, true);
    grid->setColWidth(ColLocation, 3000);
    grid->setColWidth(ColModifiedDate, 2600);
    settings.GridStyle = 2;
    grid->RefreshGrid(settings);
    EXPECT_EQ(grid->colWidth(ColLocation), 3000);
    // A column hidden: only the stretching columns take its band.
    settings.ColumnVisibility = QStringList{"1", "1", "0", "1", "1"};
    grid->RefreshGrid(settings);
    EXPECT_EQ(names(), QStringList({"a.tif", "b.tif"}));
    EXPECT_EQ(grid->colWidth(ColModifiedDate), 2600);
    EXPECT_EQ(arrowColumns(), QList<int>({ColFileName}));
    EXPECT_TRUE(grid->isSelected(1));
    EXPECT_TRUE(grid->colHidden(ColSize));
}

TEST_F(ResultGridTest, ClearingKeepsHeaderAndArrow)
{
    add("b.tif", 2, when);
    grid->show();
    clickHeader(ColFileName);
    grid->ClearRows();
    EXPECT_EQ(grid->rows(), 1);
    EXPECT_EQ(grid->textMatrix(0, ColFileName), "File Name");
    EXPECT_EQ(arrowColumns(), QList<int>({ColFileName}));
}

TEST(SortArrow, ElevenByFourBlueTriangleOnPaleBackground)
{
    const QImage up = ResultGrid::sortArrow(true).toImage();
    const QImage down = ResultGrid::sortArrow(false).toImage();
    ASSERT_EQ(up.size(), QSize(11, 4));
    const QRgb blue = qRgb(0, 0, 255);
    const QRgb pale = qRgb(192, 192, 255);
    auto width = [&](const QImage &img, int y) {
        int n = 0;
        for (int x = 0; x < 11; ++x) {
            const QRgb px = img.pixel(x, y) | 0xFF000000;
            EXPECT_TRUE(px == blue || px == pale);
            n += px == blue;
        }
        return n;
    };
    EXPECT_EQ(width(up, 0), 1);
    EXPECT_EQ(width(up, 3), 7);
    EXPECT_EQ(width(down, 0), 7);
    EXPECT_EQ(width(down, 3), 1);
}

}  // namespace
