// The window as someone who counts batches all day uses it: what the status bar says while a
// search runs and after a folder switch, the keys (Enter, Esc, F5, Ctrl+C), the header's column
// menu, the sort arrow across searches, the minimum size and the message panel.

#include "FakeCounters.h"
#include "GuiTestEnvironment.h"

#include "AppSettings.h"
#include "ColumnFitter.h"
#include "FileNames.h"
#include "FileShell.h"
#include "FolderTree.h"
#include "MainCommands.h"
#include "ResultGrid.h"
#include "SearchCriteriaPanel.h"
#include "SearchProgress.h"
#include "SettingsFile.h"
#include "StatusPanels.h"
#include "Twips.h"
#include "frmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

namespace {

class RecordingCommands : public MainCommands
{
public:
    RecordingCommands(frmMain &window, QStringList &log) : MainCommands(window), m_log(log) {}
    void fileOpen() override { m_log << "open"; }

private:
    QStringList &m_log;
};

class WindowInUseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(program.isValid());
        modGlobal::SetProgramFolderOverride(program.path());
        modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
        modGlobal::AppSettings.CountingLanes = 1;
        ASSERT_TRUE(QDir().mkpath(startDir.filePath("start")));
        modGlobal::AppSettings.StartupFolder = startDir.filePath("start");
        window = std::make_unique<frmMain>(nullptr, textCounters(log));
        QObject::connect(window.get(), &frmMain::searchFinished, window.get(), [this] { ++finished; });
        QObject::connect(window.get(), &frmMain::statusShown, window.get(),
                         [this](const QString &text, const QString &key) {
                             if (key == "Message" && text.startsWith("Searching "))
                                 ++searchesShown;
                             if (key == "Files")
                                 checkFilesPanel();
                         });
        window->criteriaPanel->includeSubfolderBox()->setChecked(true);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->FirstActivation() && message() == "Done"; }));
        finished = 0;
    }
    void TearDown() override
    {
        log.openGate();  // a search still held ends
        window.reset();
        modGlobal::SetProgramFolderOverride({});
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }
    // A file whose text tells the test counters what to answer ("pages:3", "slow:3").
    void file(const QString &relative, const QByteArray &text)
    {
        QFile f(path(relative));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(f).absolutePath()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    void startPick(const QString &folder)
    {
        auto *model = qobject_cast<QFileSystemModel *>(window->ftv->model());
        window->ftv->selectionModel()->setCurrentIndex(model->index(folder), QItemSelectionModel::ClearAndSelect);
    }
    void pickFolder(const QString &folder)
    {
        const int before = finished;
        startPick(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished > before; }, 30000));
    }
    // The "Files" panel never claims more files than the grid shows.
    void checkFilesPanel()
    {
        static const QRegularExpression count(QStringLiteral("^(\\d+) file\\(s\\) found$"));
        const auto match = count.match(files());
        if (match.hasMatch() && match.captured(1).toInt() > window->vsFiles->rows() - 1)
            ++filesPanelLies;
    }
    QString message() const { return window->sbGeneral->panelText("Message"); }
    QString files() const { return window->sbGeneral->panelText("Files"); }
    QString totals() const { return window->lblPageCount->text(); }
    int rows() const { return window->vsFiles->rows() - 1; }
    QString cell(int row, int col) const { return window->vsFiles->textMatrix(row, col); }
    int rowOf(const QString &name) const
    {
        for (int r = 1; r < window->vsFiles->rows(); ++r)
            if (cell(r, ColFileName) == name)
                return r;
        return -1;
    }
    bool running() const { return window->folderSearch().isRunning(); }

    QTemporaryDir program;
    QTemporaryDir startDir;
    QTemporaryDir dir;
    CounterLog log;
    std::unique_ptr<frmMain> window;
    int finished = 0;
    int searchesShown = 0;
    int filesPanelLies = 0;
};

// ------------------------------------------------------------------ the status bar while searching

TEST_F(WindowInUseTest, FilesPanelAndTotalsFollowTheRowsDuringAndAfterAFolderSwitch)
{
    // Each folder's own files come before its subfolder's, so two rows show while the third waits.
    file("old/a.tif", "pages:1");
    file("old/b.pdf", "pages:2");
    file("old/sub/held.tif", "slow:3");
    file("new/x.tif", "pages:4");
    file("new/y.pdf", "pages:5");
    file("new/sub/z.tif", "slow:6");
    QTimer watch;  // the panel is checked all along, not only when it changes
    QObject::connect(&watch, &QTimer::timeout, window.get(), [this] { checkFilesPanel(); });
    watch.start(5);

    startPick(path("old"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && rows() == 2; }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return files() == "2 file(s) found"; })) << files().toStdString();
    EXPECT_EQ(totals(), "Total Pages  TIFF : 1  PDF : 2");
    EXPECT_TRUE(running()) << "the counts moved before the folder ended";
    EXPECT_FALSE(window->sbGeneral->busyIndicator()->isHidden());

    // Another folder while the first is held: its rows and nothing else are described.
    startPick(path("new"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && rows() == 2 && rowOf("x.tif") > 0; }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return files() == "2 file(s) found"; })) << files().toStdString();
    EXPECT_EQ(totals(), "Total Pages  TIFF : 4  PDF : 5");
    EXPECT_EQ(rowOf("a.tif"), -1);
    EXPECT_TRUE(running());

    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 30000));
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(files(), "3 file(s) found");
    EXPECT_EQ(totals(), "Total Pages  TIFF : 10  PDF : 5");
    EXPECT_EQ(message(), "Done");
    EXPECT_TRUE(window->sbGeneral->busyIndicator()->isHidden());
    checkFilesPanel();
    EXPECT_EQ(filesPanelLies, 0);
}

TEST_F(WindowInUseTest, ClearedGridClearsTheFilesPanel)
{
    file("one/a.tif", "pages:1");
    file("two/sub/held.tif", "slow:1");
    pickFolder(path("one"));
    ASSERT_EQ(files(), "1 file(s) found");
    startPick(path("two"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && message().endsWith("sub"); }, 30000));
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(files(), "");
    EXPECT_EQ(totals(), "Total Pages  TIFF : 0  PDF : 0");
}

TEST_F(WindowInUseTest, EscEndsASearchThatShowedItsTime)
{
    file("docs/a.tif", "pages:1");
    file("docs/sub/held.tif", "hold");
    QLabel *elapsed = window->sbGeneral->elapsedPanel();
    startPick(path("docs"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 30000));
    EXPECT_FALSE(window->sbGeneral->busyIndicator()->isHidden());
    // The time shows once the search has taken a second (waited for, not timed).
    ASSERT_TRUE(QTest::qWaitFor([&] { return !elapsed->isHidden(); }, 30000));
    EXPECT_TRUE(QRegularExpression("^\\d+:\\d\\d$").match(elapsed->text()).hasMatch()) << elapsed->text().toStdString();

    QTest::keyClick(window->vsFiles->view(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 30000));
    EXPECT_EQ(message(), "Search Terminated by User");
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
    EXPECT_EQ(files(), "1 file(s) found");
    EXPECT_TRUE(window->sbGeneral->busyIndicator()->isHidden());
    EXPECT_FALSE(elapsed->isHidden()) << "the time the search took stays";

    // Without a search Esc is left to the focused control and starts nothing.
    QTest::keyClick(window->vsFiles->view(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(running());
    EXPECT_EQ(message(), "Search Terminated by User");
}

struct ElapsedCase {
    qint64 ms;
    const char *text;
};

class ElapsedTextTest : public ::testing::TestWithParam<ElapsedCase>
{
};

TEST_P(ElapsedTextTest, MinutesAndSecondsThenHours)
{
    EXPECT_EQ(SearchProgress::elapsedText(GetParam().ms), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Times, ElapsedTextTest,
                         ::testing::Values(ElapsedCase{0, "0:00"}, ElapsedCase{999, "0:00"},
                                           ElapsedCase{1000, "0:01"}, ElapsedCase{59999, "0:59"},
                                           ElapsedCase{61000, "1:01"}, ElapsedCase{3599000, "59:59"},
                                           ElapsedCase{3723000, "1:02:03"}));

// ------------------------------------------------------------------ keys

TEST_F(WindowInUseTest, F5SearchesAgainAndStartsARunningSearchOver)
{
    file("docs/a.tif", "pages:1");
    pickFolder(path("docs"));
    file("docs/b.pdf", "pages:2");
    const int shown = searchesShown;
    QTest::keyClick(window->vsFiles->view(), Qt::Key_F5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 2; }, 30000));
    EXPECT_EQ(rows(), 2) << "the file added meanwhile is listed";
    EXPECT_EQ(searchesShown, shown + 1);

    file("docs/sub/held.tif", "slow:3");
    QTest::keyClick(window->vsFiles->view(), Qt::Key_F5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && message().endsWith("sub"); }, 30000));
    EXPECT_EQ(searchesShown, shown + 3);
    QTest::keyClick(window->txtAddress, Qt::Key_F5);  // anywhere in the window
    // Started over: "Searching" for the folder and its subfolder once more.
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && searchesShown == shown + 5; }, 30000));
    EXPECT_TRUE(running());
    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 3; }, 30000));
    EXPECT_EQ(message(), "Done");
    EXPECT_EQ(rows(), 3) << "the restarted search lists each file once";
    EXPECT_EQ(files(), "3 file(s) found");
}

TEST_F(WindowInUseTest, EnterOpensTheCurrentFileOnlyFromTheGrid)
{
    file("docs/a.tif", "pages:1");
    file("docs/b.tif", "pages:1");
    pickFolder(path("docs"));
    QStringList log;
    window->setCommands(std::make_unique<RecordingCommands>(*window, log));
    window->vsFiles->setRow(2);
    window->vsFiles->setCol(0);
    window->vsFiles->view()->setFocus();
    QTest::keyClick(window->vsFiles->view(), Qt::Key_Return);
    QTest::keyClick(window->vsFiles->view(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(log, (QStringList{"open", "open"}));
    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    QTest::keyClick(window->vsFiles->view(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(log.size(), 2);
    EXPECT_EQ(window->vsFiles->row(), 2) << "Enter does not move the cursor";
}

// Splits tab-separated lines as a spreadsheet reads them: a cell in double quotes may hold tabs,
// line ends and doubled quotes.
QList<QStringList> parseTsv(const QString &text)
{
    QList<QStringList> lines;
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                cell += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == u'"' && cell.isEmpty()) {
            quoted = true;
        } else if (c == u'\t') {
            cells << cell;
            cell.clear();
        } else if (c == u'\n') {
            cells << cell;
            cell.clear();
            lines << cells;
            cells.clear();
        } else {
            cell += c;
        }
    }
    EXPECT_TRUE(cell.isEmpty() && cells.isEmpty()) << "every line ends in a line feed";
    return lines;
}

TEST_F(WindowInUseTest, CtrlCCopiesTheSelectedVisibleRowsAsTextAndAsFileUrls)
{
    file("docs/plain.tif", "pages:2");
    file("docs/tab\there.pdf", "pages:3");
    file("docs/say \"hi\".tif", "pages:4");
    file("docs/deleted.tif", "pages:5");
    file("docs/unselected.tif", "pages:6");
    const QByteArray odd = QFile::encodeName(path("docs")) + "/caf\xe9.pdf";  // not UTF-8
    const int fd = ::open(odd.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "pages:7", 7), 7);
    ::close(fd);
    pickFolder(path("docs"));
    ASSERT_EQ(rows(), 6);
    modGlobal::AppSettings.ColumnVisibility = QStringList{"1", "0", "1", "1", "1"};  // no Location
    window->RefreshGrid();

    ResultGrid *grid = window->vsFiles;
    for (int r = 1; r <= rows(); ++r)
        if (cell(r, ColFileName) != "unselected.tif")
            grid->setIsSelected(r, true);
    grid->setRowHiddenFlag(rowOf("deleted.tif"), true);
    QList<int> wanted;
    for (int r = 1; r <= rows(); ++r)
        if (grid->isSelected(r) && !grid->rowHidden(r))
            wanted << r;
    ASSERT_EQ(wanted.size(), 4);

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(grid->view(), Qt::Key_C, Qt::ControlModifier);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);

    const QList<QStringList> lines = parseTsv(data->text());
    ASSERT_EQ(lines.size(), wanted.size());
    QByteArray uris;
    for (int i = 0; i < wanted.size(); ++i) {
        const int r = wanted[i];
        EXPECT_EQ(lines[i], (QStringList{cell(r, ColFileName), cell(r, ColSize), cell(r, ColModifiedDate),
                                         cell(r, ColPages)}));
        uris += fileUriFromBytes(platform::pathFromText(cell(r, ColFullPath))).toLatin1() + "\r\n";
    }
    EXPECT_EQ(data->data("text/uri-list"), uris);
    EXPECT_TRUE(uris.contains("/caf%E9.pdf\r\n")) << "the name's own bytes";
    EXPECT_TRUE(uris.contains("/tab%09here.pdf\r\n"));

    // Nothing selected: the clipboard keeps what it had.
    grid->setIsSelected(-1, false);
    QTest::keyClick(grid->view(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(QGuiApplication::clipboard()->mimeData());
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/uri-list"), uris);
}

// ------------------------------------------------------------------ the header's column menu

QMenu *openColumnMenu(frmMain &window)
{
    QHeaderView *header = window.vsFiles->view()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(0) + 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseRelease(header->viewport(), Qt::RightButton, Qt::NoModifier, at);
    QMenu *menu = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        menu = window.findChild<QMenu *>("mnuColumns");
        return menu && menu->isVisible();
    }));
    return menu;
}

// The width the shown columns take together.
int visibleWidth(const ResultGrid &grid)
{
    return grid.view()->horizontalHeader()->length();
}

TEST_F(WindowInUseTest, HeaderMenuShowsAndHidesColumnsAndSavesThemAsPreferencesDo)
{
    file("docs/a.tif", "pages:1");
    pickFolder(path("docs"));
    window->resize(1400, 800);  // room for every column's minimum width
    ResultGrid *grid = window->vsFiles;
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWidth(*grid) == grid->view()->viewport()->width(); }));
    const int fullWidth = grid->view()->viewport()->width();
    ASSERT_EQ(visibleWidth(*grid), fullWidth);

    QMenu *menu = openColumnMenu(*window);
    ASSERT_TRUE(menu);
    QStringList items;
    for (QAction *a : menu->actions())
        items << a->text() + (a->isChecked() ? "+" : "-");
    EXPECT_EQ(items, (QStringList{"File Name+", "Location+", "Size+", "Modified Date+", "Pages+"}));
    menu->actions()[ColLocation]->trigger();
    menu->close();

    EXPECT_TRUE(grid->colHidden(ColLocation));
    EXPECT_EQ(visibleWidth(*grid), fullWidth) << "the other columns take the band at once";
    modGlobal::SettingsRecord stored;
    ASSERT_TRUE(modGlobal::ReadSettingsFile(modGlobal::SettingsFilePath(), stored));
    EXPECT_EQ(stored.ColumnVisibility, (QStringList{"1", "0", "1", "1", "1"}));
    EXPECT_EQ(modGlobal::AppSettings.ColumnVisibility, stored.ColumnVisibility);

    // Shown again; and the last column shown cannot go.
    menu = openColumnMenu(*window);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions()[ColLocation]->isChecked());
    menu->actions()[ColLocation]->trigger();
    menu->close();
    EXPECT_FALSE(grid->colHidden(ColLocation));
    EXPECT_EQ(visibleWidth(*grid), fullWidth);
    ASSERT_TRUE(modGlobal::ReadSettingsFile(modGlobal::SettingsFilePath(), stored));
    EXPECT_EQ(stored.ColumnVisibility, (QStringList{"1", "1", "1", "1", "1"}));

    modGlobal::AppSettings.ColumnVisibility = QStringList{"0", "0", "1", "0", "0"};
    window->RefreshGrid();
    menu = openColumnMenu(*window);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions()[ColSize]->isEnabled());
    EXPECT_TRUE(menu->actions()[ColPages]->isEnabled());
    menu->close();
}

// ------------------------------------------------------------------ sort arrow across searches

TEST_F(WindowInUseTest, EverySearchEndsInTheOrderTheArrowShows)
{
    file("docs/b.tif", "pages:30");
    file("docs/a.tif", "pages:100");
    file("docs/c.tif", "pages:2");
    pickFolder(path("docs"));
    ResultGrid *grid = window->vsFiles;
    grid->SortBy(ColPages, FlexGrid::SortedDescending);
    ASSERT_TRUE(grid->sortArrowShown());

    file("docs/sub/held.tif", "slow:7");
    file("docs/sub/d.tif", "pages:50");
    window->cmdSearch->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && message().endsWith("sub") && rows() >= 3; }, 30000));
    EXPECT_FALSE(grid->sortArrowShown()) << "rows in walk order under no arrow";
    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 2; }, 30000));
    ASSERT_EQ(rows(), 5);
    EXPECT_TRUE(grid->sortArrowShown());
    EXPECT_EQ(grid->sortedColumn(), int(ColPages));
    QStringList pages;
    for (int r = 1; r <= rows(); ++r)
        pages << cell(r, ColPages);
    EXPECT_EQ(pages, (QStringList{"100", "50", "30", "7", "2"}));
    EXPECT_FALSE(grid->cellPicture(0, ColPages).isNull());
}

// ------------------------------------------------------------------ minimum size

TEST_F(WindowInUseTest, WindowMadeSmallerThanItsMinimumSnapsBack)
{
    const QSize minimum(platform::twipsToPixels(12000), platform::twipsToPixels(6000));
    ASSERT_EQ(window->minimumSize(), minimum);
    // As a resize that no window manager checked would arrive: the native window itself shrinks.
    window->windowHandle()->setMinimumSize(QSize(1, 1));
    window->windowHandle()->resize(200, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window->width() >= minimum.width() && window->height() >= minimum.height()
               && window->windowHandle()->width() >= minimum.width();
    }));
}

// ------------------------------------------------------------------ the message panel

TEST_F(WindowInUseTest, MessagePanelGivesItsWholeTextAsTooltipDescriptionAndOnAClick)
{
    const QString text = "Done - the PDF page counter is missing; PDF pages read Error (cannot load "
                         "/usr/lib/quirewell/pdfcounter.so: run quirewell-register --repair as the "
                         "user who installed the program)";
    window->ShowStatus(text, "Message");
    QLabel *panel = window->sbGeneral->panel("Message");
    EXPECT_EQ(panel->text(), text);
    EXPECT_EQ(panel->toolTip(), text);
    EXPECT_EQ(panel->accessibleDescription(), text);

    QTest::mouseClick(panel, Qt::LeftButton, Qt::NoModifier, QPoint(5, panel->height() / 2));
    QDialog *dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        dialog = window->findChild<QDialog *>("dlgStatusMessage");
        return dialog && dialog->isVisible();
    }));
    auto *box = dialog->findChild<QPlainTextEdit *>("txtMessage");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->toPlainText(), text);
    EXPECT_TRUE(box->isReadOnly());
    delete dialog;

    window->ShowStatus(QString(), "Message");
    QTest::mouseClick(panel, Qt::LeftButton, Qt::NoModifier, QPoint(5, panel->height() / 2));
    QApplication::processEvents();
    EXPECT_FALSE(window->findChild<QDialog *>("dlgStatusMessage")) << "nothing to read, no window";
}

}  // namespace
