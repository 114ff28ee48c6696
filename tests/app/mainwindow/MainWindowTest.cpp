// The real main window, offscreen, over folders built by the test, with the real page counters
// found through the build's registration store.

#include "FakeCounters.h"
#include "GuiTestEnvironment.h"
#include "TestDocuments.h"

#include "AppSettings.h"
#include "ComRegistry.h"
#include "ExportGrid.h"
#include "FileActions.h"
#include "FileShell.h"
#include "MessageBoxes.h"
#include "FileNames.h"
#include "FolderTree.h"
#include "MainCommands.h"
#include "ResultGrid.h"
#include "SearchCriteriaPanel.h"
#include "StatusPanels.h"
#include "Twips.h"
#include "frmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <unistd.h>

namespace {

QByteArray bytes(const QString &path) { return QFile::encodeName(path); }

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString why;
        ASSERT_TRUE(testdocs::useBuildRegistry(&why)) << why.toStdString();
        modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
        // The tree starts elsewhere, so picking the test folder is a change the tree reports.
        ASSERT_TRUE(QDir().mkpath(startDir.filePath("start")));
        modGlobal::AppSettings.StartupFolder = startDir.filePath("start");
        makeWindow();
    }
    void makeWindow(search::SearchCore::FactoryMaker counters = {})
    {
        window.reset();
        window = std::make_unique<frmMain>(nullptr, std::move(counters));
        QObject::connect(&window->folderSearch(), &search::SearchCommand::searchFinished, window.get(),
                         [this] { ++finishedSearches; });
    }
    void TearDown() override
    {
        window.reset();
        comrt::SetRegistryStorePath({});
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }
    void mkdir(const QString &relative) { ASSERT_TRUE(QDir().mkpath(path(relative))); }

    // A user's pick in the folder tree: raises both tree notifications; waits for the search.
    void pickFolder(const QString &folder)
    {
        const int before = finishedSearches;
        startPick(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finishedSearches > before; }, 30000));
    }
    void startPick(const QString &folder)
    {
        auto *model = qobject_cast<QFileSystemModel *>(window->ftv->model());
        ASSERT_NE(model, nullptr);
        const QModelIndex index = model->index(folder);
        ASSERT_TRUE(index.isValid());
        window->ftv->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }

    QString cell(int row, int col) const { return window->vsFiles->textMatrix(row, col); }
    int rowOf(const QString &name) const
    {
        for (int r = 1; r < window->vsFiles->rows(); ++r)
            if (cell(r, ColFileName) == name)
                return r;
        return -1;
    }
    QString message() const { return window->sbGeneral->panelText("Message"); }
    QString files() const { return window->sbGeneral->panelText("Files"); }

    // Shows the window and lets the first activation's search (of the empty start-up folder) end.
    void showAndSettle()
    {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->FirstActivation() && message() == "Done"; }));
    }

    void searchAgain()
    {
        const int before = finishedSearches;
        window->cmdSearch->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finishedSearches > before; }, 30000));
    }

    QTemporaryDir startDir;
    QTemporaryDir dir;
    CounterLog log;  // for windows made with textCounters(log); outlives them
    std::unique_ptr<frmMain> window;
    int finishedSearches = 0;
};

TEST_F(MainWindowTest, ListsRealDocumentsWithEveryCellAndTotals)
{
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("scan.tif")), 3));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("SCAN2.TIF")), 2));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("long.tiff")), 4));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("scan.pdf.tif")), 1));
    ASSERT_TRUE(testdocs::writePdf(bytes(path("report.pdf")), 5));
    ASSERT_TRUE(testdocs::writePdf(bytes(path("really-a-pdf.tif")), 2));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("notes.txt")), "text"));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("noext")), "text"));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path(".hidden.tif")), 1));
    mkdir("sub");
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("sub/inner.tif")), 1));

    pickFolder(dir.path());
    EXPECT_EQ(window->CurrentFolder(), dir.path() + "/");
    EXPECT_EQ(window->txtAddress->text(), dir.path() + "/");

    const std::map<QString, QString> expectedPages = {
        {"scan.tif", "3"}, {"SCAN2.TIF", "2"}, {"long.tiff", "4"},
        {"scan.pdf.tif", "1"}, {"report.pdf", "5"}, {"really-a-pdf.tif", "Error"},
    };
    ASSERT_EQ(window->vsFiles->rows() - 1, int(expectedPages.size()));
    for (const auto &[name, pages] : expectedPages) {
        const int r = rowOf(name);
        ASSERT_GT(r, 0) << name.toStdString();
        const QFileInfo info(path(name));
        const QString kb = ResultGrid::sizeKbText((info.size() + 1023) / 1024);
        EXPECT_EQ(cell(r, ColLocation), dir.path()) << name.toStdString();
        EXPECT_EQ(cell(r, ColSizeKb), kb);
        EXPECT_EQ(cell(r, ColSize), kb + " KB");
        EXPECT_EQ(cell(r, ColModifiedDate), info.lastModified().toString("MM/dd/yyyy hh:mm AP"));
        EXPECT_EQ(cell(r, ColPages), pages) << name.toStdString();
        EXPECT_EQ(cell(r, ColFullPath), path(name));
        EXPECT_FALSE(window->vsFiles->cellPicture(r, ColFileName).isNull()) << name.toStdString();
    }
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 10  PDF : 5");
    EXPECT_EQ(message(), "Done");
    EXPECT_EQ(files(), "6 file(s) found");
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
}

TEST_F(MainWindowTest, EmptyFolder)
{
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages : 0");
    pickFolder(dir.path());
    EXPECT_EQ(window->vsFiles->rows(), 1);
    EXPECT_EQ(files(), "No file found");
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(message(), "Done");
}

TEST_F(MainWindowTest, SubfoldersHiddenFoldersAndOrder)
{
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("top.tif")), 1));
    mkdir(".hidden-folder/deeper");
    ASSERT_TRUE(testdocs::writePdf(bytes(path(".hidden-folder/inside.pdf")), 2));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path(".hidden-folder/.both.tif")), 1));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path(".hidden-folder/deeper/low.tif")), 3));
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    pickFolder(dir.path());

    ASSERT_EQ(window->vsFiles->rows() - 1, 3);
    EXPECT_EQ(cell(1, ColFileName), "top.tif") << "a folder's own files come first";
    EXPECT_EQ(cell(2, ColFileName), "inside.pdf");
    EXPECT_EQ(cell(3, ColFileName), "low.tif");
    EXPECT_EQ(cell(3, ColLocation), path(".hidden-folder/deeper"));
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 4  PDF : 2");

    window->criteriaPanel->showHiddenBox()->setChecked(true);
    searchAgain();
    EXPECT_EQ(window->vsFiles->rows() - 1, 4);
}

TEST_F(MainWindowTest, NameThatIsNotUtf8IsCountedByTheRealCounters)
{
    const QByteArray tiffPath = bytes(dir.path()) + "/caf\xe9-scan.tif";
    const QByteArray pdfPath = bytes(dir.path()) + "/r\xe9sum\xe9.pdf";
    // The temporary folder's own clean-up cannot name these files; they go when the test ends.
    struct Unlink
    {
        QByteArrayList paths;
        ~Unlink()
        {
            for (const QByteArray &p : paths)
                ::unlink(p.constData());
        }
    } unlinkAtEnd{{tiffPath, pdfPath}};
    ASSERT_TRUE(testdocs::writeTiff(tiffPath, 7));
    ASSERT_TRUE(testdocs::writePdf(pdfPath, 3));
    pickFolder(dir.path());
    ASSERT_EQ(window->vsFiles->rows() - 1, 2);
    const int r = rowOf(QString::fromUtf8("caf\xef\xbf\xbd-scan.tif"));
    ASSERT_GT(r, 0);
    EXPECT_EQ(cell(r, ColPages), "7");
    EXPECT_EQ(platform::pathFromText(cell(r, ColFullPath)), tiffPath);
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 7  PDF : 3");
}

TEST_F(MainWindowTest, MissingPdfCounterIsReportedWhileTiffsAreCounted)
{
    ASSERT_TRUE(testdocs::useRegistryWithoutPdfCounter(path("store-copy.reg")));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("a.tif")), 2));
    ASSERT_TRUE(testdocs::writePdf(bytes(path("b.pdf")), 4));
    pickFolder(dir.path());
    ASSERT_EQ(window->vsFiles->rows() - 1, 2);
    EXPECT_EQ(cell(rowOf("a.tif"), ColPages), "2");
    EXPECT_EQ(cell(rowOf("b.pdf"), ColPages), "Error");
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 2  PDF : 0");
    EXPECT_TRUE(message().contains("PDF page counter is missing")) << message().toStdString();
    EXPECT_TRUE(message().contains("not registered")) << "the status says what failed";
}

TEST_F(MainWindowTest, CancelByTheButtonKeepsTheRowsSoFar)
{
    QString folder = "deep";
    for (int depth = 0; depth < 5; ++depth, folder += "/deep") {
        mkdir(folder);
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(testdocs::writeTiff(bytes(path(folder + QString("/p%1.tif").arg(i))), 1));
    }
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [this](const QString &text, const QString &key) {
        if (key == "Message" && text.count("/deep") == 3) {
            EXPECT_EQ(window->cmdSearch->text(), "&Cancel");
            window->cmdSearch->click();
        }
    });
    pickFolder(dir.path());
    EXPECT_EQ(window->vsFiles->rows() - 1, 4) << "the two folders above the cancel";
    EXPECT_EQ(files(), "4 file(s) found");
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 4  PDF : 0");
    EXPECT_EQ(message(), "Search Terminated by User");
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
}

TEST_F(MainWindowTest, ClosingTheWindowDuringASearchStopsItCleanly)
{
    mkdir("a");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(testdocs::writeTiff(bytes(path(QString("a/f%1.tif").arg(i))), 1));
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    showAndSettle();
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [this](const QString &text, const QString &) {
        if (text.endsWith("/a"))
            window->close();
    });
    pickFolder(dir.path());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->folderSearch().isRunning());
    EXPECT_EQ(message(), "Search Terminated by User");
    EXPECT_EQ(window->vsFiles->rows(), 1);
}

TEST_F(MainWindowTest, ExitEndsTheProgramDuringASearch)
{
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("a.tif")), 1));
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("b.tif")), 1));
    EXPECT_EQ(window->actions().mnuExit->shortcut(), QKeySequence("Ctrl+X"));
    showAndSettle();
    bool triggered = false;
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [&](const QString &text, const QString &) {
        if (text.startsWith("Searching") && !triggered) {
            triggered = true;
            window->actions().mnuExit->trigger();
        }
    });
    pickFolder(dir.path());
    EXPECT_TRUE(triggered);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(message(), "Search Terminated by User");
    EXPECT_EQ(window->vsFiles->rows(), 1);
}

// Deletes nothing on disk; records what it was asked to delete.
class RecordingShell : public FileShell
{
public:
    QByteArrayList deleted;
    bool openPath(const QByteArray &) override { return true; }
    void showItemInFolder(const QByteArray &, QObject *, Answer) override {}
    void showItemProperties(const QByteArray &, QObject *, Answer) override {}
    bool deleteFile(const QByteArray &path, QString *) override
    {
        deleted << path;
        return true;
    }
};

TEST_F(MainWindowTest, DeleteAndExportDuringASearchActOnlyOnRowsAlreadyShown)
{
    modGlobal::AppSettings.CountingLanes = 1;
    makeWindow(textCounters(log));
    // The folder's own files come before its subfolder's, so both are shown while the slow file waits.
    mkdir("sub");
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("a.tif")), "pages:1"));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("b.tif")), "pages:2"));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("sub/slow.tif")), "slow:3"));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("sub/c.pdf")), "pages:4"));
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    startPick(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && window->vsFiles->rows() - 1 >= 2; }, 30000));
    const int shown = window->vsFiles->rows() - 1;
    QStringList shownPaths;
    for (int r = 1; r <= shown; ++r)
        shownPaths << cell(r, ColFullPath);
    EXPECT_FALSE(shownPaths.contains(path("sub/slow.tif")));
    EXPECT_EQ(window->cmdSearch->text(), "&Cancel");

    window->vsFiles->SelectAll();
    platform::RecordingMessageBoxes boxes;  // answers Yes
    RecordingShell shell;
    FileActions(*window->vsFiles, window.get(), shell).DeleteSelectedFiles();
    QByteArrayList expected;
    for (const QString &p : shownPaths)
        expected << platform::pathFromText(p);
    EXPECT_EQ(shell.deleted, expected);

    const QString exported = dir.filePath("export.txt");
    ExportGrid(*window->vsFiles, window.get(), [&](QWidget *) {
        ExportChoice c;
        c.cancelled = false;
        c.fileName = exported;
        return c;
    });
    QFile file(exported);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_EQ(text.count("\r\n"), 1) << "the header alone: the shown rows were deleted";

    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->cmdSearch->text() == "&Search"; }, 30000));
    EXPECT_EQ(window->vsFiles->rows() - 1, 4);
    for (int r = shown + 1; r <= 4; ++r)
        EXPECT_FALSE(window->vsFiles->rowHidden(r)) << "rows that came later were not part of the delete";
    EXPECT_EQ(files(), "4 file(s) found");
    EXPECT_EQ(message(), "Done");
}

TEST_F(MainWindowTest, CancelDuringASlowFileShowsAtOnceAndClosingExitsCleanly)
{
    log.honourAbort = false;  // a counter that cannot be interrupted: the window must not wait for it
    makeWindow(textCounters(log));
    ASSERT_TRUE(testdocs::writeBytes(bytes(path("slow.pdf")), "slow:3"));
    startPick(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 30000));
    window->cmdSearch->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return message() == "Search Terminated by User"; }, 30000));
    EXPECT_EQ(log.waiting(), 1) << "the counter is still busy: the window did not wait for it";
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
    EXPECT_EQ(window->vsFiles->rows(), 1);
    EXPECT_EQ(files(), "No file found");

    // A new search while the old call still runs, then the window goes away in the middle of it:
    // the fresh call is aborted, the old one is left to finish on its own.
    {
        std::lock_guard lock(log.mutex);
        log.honourAbort = true;
    }
    window->cmdSearch->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 2; }, 30000));
    window->close();
    window.reset();
    EXPECT_EQ(log.waiting(), 1);
    EXPECT_EQ(search::SearchCore::busyThreads(), 1) << "the uninterruptible call is left running";
    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.aliveCount() == 0 && search::SearchCore::busyThreads() == 0; }, 30000));
    EXPECT_EQ(log.releasedOnOtherThread, 0);
}

TEST_F(MainWindowTest, MissingTopFolderClearsTheGridAndEndsEmpty)
{
    ASSERT_TRUE(testdocs::writeTiff(bytes(path("scan.tif")), 3));
    pickFolder(dir.path());
    ASSERT_EQ(window->vsFiles->rows() - 1, 1);
    emit window->ftv->folderItemSelected(path("vanished"));
    searchAgain();
    EXPECT_EQ(window->txtAddress->text(), path("vanished") + "/");
    EXPECT_EQ(window->vsFiles->rows(), 1);
    EXPECT_EQ(files(), "No file found");
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(message(), "Done");
}

TEST_F(MainWindowTest, ASearchOfTwoFoldersStartsOneHelper)
{
    const QString helperLog = dir.filePath("helper.log");
    qputenv("QW_PDFCOUNTER_HELPER_LOG", QFile::encodeName(helperLog));
    modGlobal::AppSettings.CountingLanes = 1;
    makeWindow();
    mkdir("a");
    mkdir("b");
    ASSERT_TRUE(testdocs::writePdf(bytes(path("a/one.pdf")), 2));
    ASSERT_TRUE(testdocs::writePdf(bytes(path("b/two.pdf")), 3));
    pickFolder(path("a"));
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 0  PDF : 2");
    pickFolder(path("b"));
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 0  PDF : 3");
    qunsetenv("QW_PDFCOUNTER_HELPER_LOG");
    QFile file(helperLog);
    // The counts above came from a helper, so its start must be in the log: an empty log means
    // the counts bypassed the helper, or it was started without being told where to log.
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "no helper start was logged";
    const QByteArray log = file.readAll().trimmed();
    ASSERT_FALSE(log.isEmpty()) << "no helper start was logged";
    const QList<QByteArray> starts = log.split('\n');
    EXPECT_EQ(starts.size(), 1) << "the helper lives across searches";
}

TEST_F(MainWindowTest, CriteriaControlsReachTheRunningWalk)
{
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    window->criteriaPanel->showHiddenBox()->setChecked(true);
    window->criteriaPanel->filterCombo()->setCurrentText("*.tif");
    const search::SearchOptions o = window->folderSearch().core().options().get();
    EXPECT_TRUE(o.includeSubfolders);
    EXPECT_EQ(o.showHiddenState, search::Ticked);
    EXPECT_EQ(o.filterText, "*.tif");
    EXPECT_EQ(o.criteria.filterText, "*.tif");
}

// The PDF counter's helper processes this process has started and that are still running.
int runningHelpers()
{
    int n = 0;
    const QStringList pids = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QByteArray name = line.mid(line.indexOf('(') + 1, line.lastIndexOf(')') - line.indexOf('(') - 1);
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // fields[0] is the state: a zombie has ended.
        if (fields.size() > 1 && fields[1].toInt() == ::getpid() && fields[0] != "Z"
            && QByteArray("pdfcounter-helper").startsWith(name))
            ++n;
    }
    return n;
}

TEST_F(MainWindowTest, CancelsDuringASlowPdfLeaveAtMostOneHelperPerLane)
{
    modGlobal::AppSettings.CountingLanes = 2;
    makeWindow();
    ASSERT_TRUE(testdocs::writePdf(bytes(path("heavy.pdf")), 20000));
    emit window->ftv->folderItemSelected(dir.path());
    for (int i = 0; i < 3; ++i) {
        window->cmdSearch->click();
        // Cancel once a helper is at work on the file (or the count is already over).
        ASSERT_TRUE(QTest::qWaitFor([&] { return runningHelpers() > 0 || message() == "Done"; }, 30000));
        if (window->cmdSearch->text() == "&Cancel")
            window->cmdSearch->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->cmdSearch->text() == "&Search"; }, 30000));
    }
    // A killed helper takes a moment to end on a busy machine; wait for it rather than race it.
    EXPECT_TRUE(QTest::qWaitFor([] { return runningHelpers() <= 2; }, 10000))
        << "abandoned counts do not leave their helpers running: " << runningHelpers();
    searchAgain();
    EXPECT_EQ(cell(1, ColPages), "20000") << "the lanes still count after the cancels";
    EXPECT_TRUE(QTest::qWaitFor([] { return runningHelpers() <= 2; }, 10000)) << runningHelpers();
}

TEST_F(MainWindowTest, FolderNotificationKeepsOneTrailingSeparator)
{
    emit window->ftv->folderItemSelected("/");
    EXPECT_EQ(window->CurrentFolder(), "/");
    emit window->ftv->folderItemSelected("/srv/scans");
    EXPECT_EQ(window->CurrentFolder(), "/srv/scans/");
    EXPECT_EQ(window->txtAddress->text(), "/srv/scans/");
    EXPECT_TRUE(window->txtAddress->isReadOnly());
}

TEST_F(MainWindowTest, ShowHideButtonTogglesTheFrameAndItsCaption)
{
    QPushButton *b = window->cmdShowHideAdvanceSearch;
    QGroupBox *frame = window->criteriaPanel->advancedFrame();
    showAndSettle();
    EXPECT_EQ(b->text(), "Hide Advance Options");
    EXPECT_TRUE(frame->isVisible());
    b->click();
    EXPECT_EQ(b->text(), "Show Advance Option");
    EXPECT_EQ(b->property("Tag").toString(), "Show");
    EXPECT_FALSE(frame->isVisible());
    b->click();
    EXPECT_EQ(b->text(), "Hide Advance Option");
    EXPECT_EQ(b->property("Tag").toString(), "Hide");
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(MainWindowTest, DateTooltipOnlyOverTheFilesPanel)
{
    showAndSettle();
    QLabel *filesPanel = window->sbGeneral->panel("Files");
    QLabel *clockPanel = window->sbGeneral->panel("Clock");
    QMouseEvent overClock(QEvent::MouseMove, QPointF(5, 5), clockPanel->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(clockPanel, &overClock);
    EXPECT_TRUE(clockPanel->toolTip().isEmpty());
    EXPECT_TRUE(filesPanel->toolTip().isEmpty());
    QMouseEvent overFiles(QEvent::MouseMove, QPointF(5, 5), filesPanel->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(filesPanel, &overFiles);
    EXPECT_EQ(filesPanel->toolTip(), QLocale().toString(QDate::currentDate(), "dddd, MMMM dd, yyyy"));
    EXPECT_EQ(window->sbGeneral->panel(2), filesPanel);
}

class RecordingCommands : public MainCommands
{
public:
    using MainCommands::MainCommands;
    QStringList *log = nullptr;
    void fileOpen() override { *log << "open"; }
    void fileDelete() override { *log << "delete"; }
    void fileProperties() override { *log << "properties"; }
    void fileShowContainingFolder() override { *log << "folder"; }
    void exportGrid() override { *log << "export"; }
    void exportButton() override { *log << "export button"; }
    void preferences() override { *log << "preferences"; }
    void website() override { *log << "website"; }
    void help() override { *log << "help"; }
    void about() override { *log << "about"; }
};

TEST_F(MainWindowTest, MenusCarryTheirCaptionsShortcutsAndRouteToTheirCommands)
{
    // Menu by menu, in order; "-" is a separator.
    const std::vector<std::pair<QString, QStringList>> menus = {
        {"File", {"mnuFileOpen:Open", "-", "mnuFileDelete:Delete", "mnuFileProperties:Properties...",
                  "mnuFileShowContainingFolder:Show Containing Folder", "-", "mnuExit:E&xit"}},
        {"Edit", {"mnuEditSelectAll:Select All", "mnuEditInvertSelection:Invert Selection"}},
        {"Tools", {"mnuExport:Export", "-", "mnuPreferences:Preferences..."}},
        {"&Help", {"mnuSupport:Quirewell Website", "mnuHelp1:Quirewell Help", "-", "mnuAbout:&About..."}},
    };
    const QList<QAction *> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), int(menus.size())) << "mnuPopup stays out of the menu bar";
    for (size_t m = 0; m < menus.size(); ++m) {
        EXPECT_EQ(bar[m]->text(), menus[m].first);
        QStringList items;
        for (QAction *a : bar[m]->menu()->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + ":" + a->text());
        EXPECT_EQ(items, menus[m].second);
    }
    QStringList popup;
    for (QAction *a : window->actions().mnuPopup->actions())
        popup << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + ":" + a->text());
    EXPECT_EQ(popup, (QStringList{"mnuPopupOpen:Open", "-", "mnuPopupDelete:Delete", "mnuPopupProperties:Properties",
                                  "mnuPopupShowContainingFolder:Show Containing Folder", "-",
                                  "mnuPopupSelectAll:Select All", "mnuPopupInvertSelection:Invert Selection"}));
    EXPECT_EQ(window->actions().mnuHelp1->shortcut(), QKeySequence("Ctrl+H"));

    QStringList log;
    auto commands = std::make_unique<RecordingCommands>(*window);
    commands->log = &log;
    window->setCommands(std::move(commands));
    const MainActions &a = window->actions();
    for (QAction *action : {a.mnuFileOpen, a.mnuPopupOpen, a.mnuFileDelete, a.mnuPopupDelete, a.mnuFileProperties,
                            a.mnuPopupProperties, a.mnuFileShowContainingFolder, a.mnuPopupShowContainingFolder,
                            a.mnuExport, a.mnuPreferences, a.mnuSupport, a.mnuHelp1, a.mnuAbout})
        action->trigger();
    window->cmdExport->click();
    EXPECT_EQ(log, (QStringList{"open", "open", "delete", "delete", "properties", "properties", "folder", "folder",
                                "export", "preferences", "website", "help", "about", "export button"}));
}

TEST_F(MainWindowTest, SelectionCommandsReachTheGrid)
{
    for (const char *name : {"a.tif", "b.tif", "c.tif"})
        ASSERT_TRUE(testdocs::writeTiff(bytes(path(name)), 1));
    pickFolder(dir.path());
    ASSERT_EQ(window->vsFiles->rows() - 1, 3);
    window->actions().mnuPopupSelectAll->trigger();
    EXPECT_EQ(window->vsFiles->selectedRows(), 3);
    window->vsFiles->setIsSelected(-1, false);
    window->vsFiles->setIsSelected(2, true);
    window->actions().mnuEditInvertSelection->trigger();
    EXPECT_EQ(window->vsFiles->selectedRows(), 2);
    EXPECT_FALSE(window->vsFiles->isSelected(2));
}

TEST_F(MainWindowTest, LayoutKeepsItsMinimumAndRightEdges)
{
    showAndSettle();
    window->resize(200, 100);
    QApplication::processEvents();
    EXPECT_GE(window->width(), platform::twipsToPixels(12000));
    EXPECT_GE(window->height(), platform::twipsToPixels(6000));

    window->resize(platform::twipsToPixels(20000), platform::twipsToPixels(10000));
    QApplication::processEvents();
    auto right = [this](QWidget *w) { return w->mapTo(window.get(), QPoint(w->width(), 0)).x(); };
    EXPECT_EQ(right(window->lblPageCount), right(window->spSplitter));
    EXPECT_NEAR(right(window->cmdShowHideAdvanceSearch), right(window->spSplitter), 1);
    EXPECT_NEAR(window->cmdShowHideAdvanceSearch->mapTo(window.get(), QPoint(0, 0)).x() - right(window->cmdExport),
                platform::twipsToPixels(50), 1);
    EXPECT_NEAR(window->width() - right(window->spSplitter), platform::twipsToPixels(200), 1);
    EXPECT_LT(window->criteriaPanel->advancedFrame()->mapTo(window.get(), QPoint(0, 0)).y(),
              window->cmdSearch->mapTo(window.get(), QPoint(0, 0)).y())
        << "the advanced frame sits above the search bar";
}

}  // namespace
