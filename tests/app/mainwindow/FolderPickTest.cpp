// How searches start from the window: arrow keys in the tree, a new folder while a search runs, a
// folder dropped on the window; and what the rows then tell: why a count failed, and the totals
// of the selected rows.

#include "GuiTestEnvironment.h"
#include "NamedCounters.h"

#include "AppSettings.h"
#include "FileActions.h"
#include "FilePropertiesDialog.h"
#include "FileNames.h"
#include "FileShell.h"
#include "FlexGridModel.h"
#include "FolderTree.h"
#include "MessageBoxes.h"
#include "RemoveTree.h"
#include "ResultGrid.h"
#include "SearchCriteriaPanel.h"
#include "SelectionTotals.h"
#include "StatusPanels.h"
#include "frmMain.h"

#include <QDir>
#include <QDropEvent>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QAction>
#include <QCheckBox>
#include <QTest>

#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using search::CounterKind;

class FolderPickTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
        ASSERT_TRUE(QDir().mkpath(startDir.filePath("start")));
        modGlobal::AppSettings.StartupFolder = startDir.filePath("start");
        makeWindow();
    }

    void makeWindow(std::set<CounterKind> missing = {})
    {
        window.reset();
        window = std::make_unique<frmMain>(nullptr, testwindow::namedCounters(std::move(missing)));
        QObject::connect(window.get(), &frmMain::searchFinished, window.get(), [this] { ++finishedSearches; });
        QObject::connect(window.get(), &frmMain::statusShown, window.get(),
                         [this](const QString &text, const QString &key) {
                             // "Searching <folder>": kept without the separator the search adds
                             if (key == "Message" && text.startsWith("Searching ")) {
                                 QString folder = text.mid(10);
                                 if (folder.size() > 1 && folder.endsWith('/'))
                                     folder.chop(1);
                                 searched << folder;
                             }
                         });
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }
    void file(const QString &relative)
    {
        QFile f(path(relative));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(f).absolutePath()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // A pick in the tree; the search it starts runs on (for picks inside a handler).
    void startPick(const QString &folder)
    {
        auto *model = qobject_cast<QFileSystemModel *>(window->ftv->model());
        window->ftv->selectionModel()->setCurrentIndex(model->index(folder), QItemSelectionModel::ClearAndSelect);
    }
    // A pick in the tree, and the search it starts (and any it leads to) run to their end.
    void pickFolder(const QString &folder)
    {
        const int before = finishedSearches;
        startPick(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finishedSearches > before; }, 30000));
    }
    // Runs action, which starts a search, and waits for the search's end.
    template<typename Action>
    void andWait(Action action)
    {
        const int before = finishedSearches;
        action();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finishedSearches > before; }, 30000));
    }
    QStringList names() const
    {
        QStringList out;
        for (int r = 1; r < window->vsFiles->rows(); ++r)
            out << window->vsFiles->textMatrix(r, ColFileName);
        out.sort();
        return out;
    }
    int rowOf(const QString &name) const
    {
        for (int r = 1; r < window->vsFiles->rows(); ++r)
            if (window->vsFiles->textMatrix(r, ColFileName) == name)
                return r;
        return -1;
    }
    QString message() const { return window->sbGeneral->panelText("Message"); }

    QTemporaryDir startDir;
    QTemporaryDir dir;
    std::unique_ptr<frmMain> window;
    QStringList searched;  // folders whose search showed "Searching ..."
    int finishedSearches = 0;
};

// ------------------------------------------------------------------ the tree by keyboard

class TreeKeysTest : public FolderPickTest
{
protected:
    void SetUp() override
    {
        FolderPickTest::SetUp();
        for (const char *f : {"f1/a.tif", "f2/b.tif", "f3/c.tif", "f4/d.tif"})
            file(f);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->FirstActivation() && message() == "Done"; }));
        searched.clear();
        auto *model = qobject_cast<QFileSystemModel *>(window->ftv->model());
        ASSERT_TRUE(window->ftv->setSelectedFolder(path("f1")));
        // The model lists a folder in the file system's order first and sorts it a moment later;
        // moves by key make sense once it shows f1 .. f4 in order.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const QModelIndex parent = model->index(dir.path());
            if (model->rowCount(parent) != 4)
                return false;
            for (int i = 0; i < 4; ++i)
                if (model->index(i, 0, parent).data().toString() != QString("f%1").arg(i + 1))
                    return false;
            return true;
        }));
        ASSERT_TRUE(window->ftv->setSelectedFolder(path("f1")));
        window->ftv->setFocus();
    }
    void key(Qt::Key k) { QTest::keyClick(window->ftv, k); }
};

TEST_F(TreeKeysTest, ThreeQuickMovesSearchOnlyTheFolderWhereTheUserStops)
{
    window->ftv->setSettleDelay(3600 * 1000);  // "quick" whatever the machine's load
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(window->ftv->selectedFolder(), path("f4"));
    EXPECT_TRUE(window->ftv->pickPending());
    EXPECT_TRUE(searched.isEmpty());
    EXPECT_EQ(window->txtAddress->text(), startDir.filePath("start")) << "the address waits with the grid";

    andWait([this] { window->ftv->settle(); });  // what the delay's end does
    EXPECT_EQ(searched, QStringList{path("f4")});
    EXPECT_EQ(window->CurrentFolder(), path("f4") + "/");
    EXPECT_EQ(window->txtAddress->text(), path("f4") + "/");
    EXPECT_EQ(names(), QStringList{"d.tif"});
    EXPECT_FALSE(window->ftv->pickPending());
}

TEST_F(TreeKeysTest, TheDelayEndsBySearchingAndEnterSearchesAtOnce)
{
    EXPECT_EQ(window->ftv->settleDelay(), 300);
    window->ftv->setSettleDelay(10);
    andWait([this] { key(Qt::Key_Down); });
    EXPECT_EQ(searched, QStringList{path("f2")});

    window->ftv->setSettleDelay(3600 * 1000);
    key(Qt::Key_Down);
    andWait([this] { key(Qt::Key_Return); });
    EXPECT_EQ(searched, (QStringList{path("f2"), path("f3")}));
    andWait([this] { key(Qt::Key_Return); });  // Enter on a folder already searched searches it again
    EXPECT_EQ(searched, (QStringList{path("f2"), path("f3"), path("f3")}));
    EXPECT_FALSE(window->ftv->pickPending());
}

// ------------------------------------------------------------------ one folder at a time

TEST_F(FolderPickTest, AnotherFolderDuringASearchCancelsItAndSearchesThatFolderOnACleanGrid)
{
    for (int i = 0; i < 6; ++i)
        file(QString("big/sub%1/a%1=%1.tif").arg(i));
    file("small/x=2.pdf");
    file("small/y=3.tif");
    bool switched = false;
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [&](const QString &text, const QString &) {
        if (!switched && text == "Searching " + path("big/sub2")) {
            switched = true;
            startPick(path("small"));  // a click in the tree, in the middle of the walk
        }
    });
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    pickFolder(path("big"));
    EXPECT_TRUE(switched);
    EXPECT_EQ(names(), (QStringList{"x=2.pdf", "y=3.tif"})) << "no row of the cancelled search is left";
    EXPECT_EQ(window->lblPageCount->text(), "Total Pages  TIFF : 3  PDF : 2");
    EXPECT_EQ(window->txtAddress->text(), path("small") + "/");
    EXPECT_EQ(message(), "Done");
    EXPECT_EQ(searched.last(), path("small"));
    EXPECT_FALSE(window->folderSearch().isRunning());
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
}

TEST_F(FolderPickTest, ClosingTheWindowAfterAnotherPickStartsNoSearch)
{
    for (int i = 0; i < 3; ++i)
        file(QString("big/sub%1/a%1.tif").arg(i));
    file("small/x.pdf");
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->FirstActivation() && message() == "Done"; }));
    bool closed = false;
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [&](const QString &text, const QString &) {
        if (!closed && text.startsWith("Searching " + path("big/"))) {
            closed = true;
            startPick(path("small"));
            window->close();
        }
    });
    searched.clear();
    pickFolder(path("big"));
    EXPECT_TRUE(closed);
    EXPECT_FALSE(searched.contains(path("small"))) << "a closed window searches nothing more";
    EXPECT_FALSE(window->folderSearch().isRunning());
}

TEST_F(FolderPickTest, TheSameFolderPickedAgainDuringItsSearchCancelsAsTheButtonDoes)
{
    for (int i = 0; i < 3; ++i)
        file(QString("big/sub%1/a%1.tif").arg(i));
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    bool again = false;
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [&](const QString &text, const QString &) {
        if (!again && text == "Searching " + path("big/sub1")) {
            again = true;
            emit window->ftv->selected();  // the tree's notification without a new folder
        }
    });
    pickFolder(path("big"));
    EXPECT_TRUE(again);
    EXPECT_EQ(message(), "Search Terminated by User");
    EXPECT_LT(names().size(), 3);
    EXPECT_EQ(searched.count(path("big")), 1) << "no second search";
}

// ------------------------------------------------------------------ a folder that vanishes

TEST_F(FolderPickTest, TheSearchedFolderVanishingEndsItsSearchAndTheTreeMovingIsNoPick)
{
    for (int i = 0; i < 6; ++i)
        file(QString("big/sub%1/a%1=%1.tif").arg(i));
    file("small/x=2.pdf");
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    // The walk lists no further than the rows shown, so the folder goes in the middle of it.
    window->folderSearch().core().setWalkAhead(1);
    // The tree lists (and watches) the folder holding both, as after a user opened it.
    ASSERT_TRUE(window->ftv->setSelectedFolder(path("small")));
    auto *model = qobject_cast<QFileSystemModel *>(window->ftv->model());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(dir.path())) == 2; }));
    bool removed = false;
    QObject::connect(window.get(), &frmMain::statusShown, window.get(), [&](const QString &text, const QString &) {
        if (!removed && text == "Searching " + path("big/sub1")) {
            removed = true;
            std::thread remover([this] { QDir(path("big")).removeRecursively(); });
            remover.join();
        }
    });
    searched.clear();
    pickFolder(path("big"));
    ASSERT_TRUE(removed);
    // The tree notices, and moves its current item off the folder that went.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->ftv->currentIndex().isValid(); }, 20000));
    EXPECT_FALSE(window->folderSearch().isRunning()) << "no other folder is searched";
    EXPECT_EQ(message(), path("big") + " no longer exists");
    for (const QString &folder : searched)
        EXPECT_TRUE(folder.startsWith(path("big"))) << folder.toStdString();
    EXPECT_GE(names().size(), 1) << "what was found stays";
    EXPECT_EQ(window->cmdSearch->text(), "&Search");
    EXPECT_EQ(window->txtAddress->text(), path("big") + "/");

    // A click on the folder the tree moved to is a pick of its own.
    searched.clear();
    pickFolder(path("small"));
    EXPECT_EQ(searched, QStringList{path("small")});
    EXPECT_EQ(names(), QStringList{"x=2.pdf"});
}

TEST_F(FolderPickTest, FoldersThatCouldNotBeReadAreNamedInTheStatusBar)
{
    file("top/a=1.tif");
    // Deeper than a path may be: nobody can open it, root included.
    int fd = ::open(QFile::encodeName(path("top")).constData(), O_RDONLY | O_DIRECTORY);
    const std::string part(200, 'd');
    for (int level = 0; level < 24; ++level) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    const int top = ::open(QFile::encodeName(path("top")).constData(), O_RDONLY | O_DIRECTORY);
    const std::unique_ptr<const int, void (*)(const int *)> cleanUp(&top, [](const int *t) {
        removeTree(*t, std::string(200, 'd').c_str());
        ::close(*t);
    });
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    pickFolder(path("top"));
    QPushButton *note = window->findChild<QPushButton *>("cmdUnreadFolders");
    ASSERT_TRUE(note);
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "1 folder could not be read");
    EXPECT_TRUE(note->toolTip().endsWith(": " + QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))))
        << note->toolTip().toStdString();
    platform::RecordingMessageBoxes boxes;
    note->click();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("1 folder could not be read"));
    EXPECT_TRUE(boxes.shown[0].text.contains(path("top") + "/" + QString(200, 'd')));
    EXPECT_EQ(names(), QStringList{"a=1.tif"});

    pickFolder(startDir.filePath("start"));
    EXPECT_TRUE(note->isHidden()) << "a search that read everything has nothing to say";
}

// ------------------------------------------------------------------ dropping a folder

QMimeData *uriList(const QByteArray &list)
{
    auto *data = new QMimeData;
    data->setData("text/uri-list", list);
    return data;
}

bool drop(QWidget *target, QMimeData *data)
{
    const QPointF at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropEvent(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropEvent);
    return dropEvent.isAccepted();
}

TEST_F(FolderPickTest, DroppingAFolderSearchesItAsIfPickedInTheTree)
{
    file("dropped/one=4.tif");
    const QByteArray odd = QFile::encodeName(path("caf")) + "\xe9";  // a folder name that is not UTF-8
    ASSERT_EQ(::mkdir(odd.constData(), 0755), 0);
    const int fd = ::open((odd + "/two=5.pdf").constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    struct Cleanup
    {
        QByteArray folder;
        ~Cleanup()
        {
            ::unlink((folder + "/two=5.pdf").constData());
            ::rmdir(folder.constData());
        }
    } cleanup{odd};
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->FirstActivation() && message() == "Done"; }));

    std::unique_ptr<QMimeData> data(uriList("file://" + QFile::encodeName(path("dropped")).toPercentEncoding("/") + "\r\n"));
    andWait([&] { ASSERT_TRUE(drop(window.get(), data.get())); });
    EXPECT_EQ(names(), QStringList{"one=4.tif"});
    EXPECT_EQ(message(), "Done");
    EXPECT_EQ(window->CurrentFolder(), path("dropped") + "/");
    EXPECT_EQ(window->txtAddress->text(), path("dropped") + "/");
    EXPECT_EQ(window->ftv->selectedFolder(), path("dropped")) << "the tree shows the dropped folder";

    std::unique_ptr<QMimeData> oddData(uriList("# a comment line\r\nfile://" + odd.toPercentEncoding("/") + "\r\n"));
    andWait([&] { ASSERT_TRUE(drop(window->vsFiles->view()->viewport(), oddData.get())) << "dropped on the grid: same"; });
    EXPECT_EQ(window->CurrentFolder(), platform::pathToText(odd) + "/");
    EXPECT_EQ(message(), "Done");
    EXPECT_EQ(platform::pathFromText(window->vsFiles->textMatrix(1, ColFullPath)), odd + "/two=5.pdf");
    EXPECT_EQ(window->vsFiles->textMatrix(1, ColPages), "5");

    // A file searches its folder, as the command line does.
    std::unique_ptr<QMimeData> fileData(uriList("file://" + QFile::encodeName(path("dropped/one=4.tif")) + "\r\n"));
    andWait([&] { ASSERT_TRUE(drop(window.get(), fileData.get())); });
    EXPECT_EQ(window->CurrentFolder(), path("dropped") + "/");
    EXPECT_EQ(names(), QStringList{"one=4.tif"});

    // Web addresses, missing files and folders and plain text are refused, and nothing starts.
    searched.clear();
    std::unique_ptr<QMimeData> web(uriList("https://example.org/\r\n"));
    std::unique_ptr<QMimeData> gone(uriList("file://" + QFile::encodeName(path("gone")) + "\r\n"));
    std::unique_ptr<QMimeData> goneFile(uriList("file://" + QFile::encodeName(path("dropped/gone.tif")) + "\r\n"));
    QMimeData text;
    text.setText(path("dropped"));
    for (QMimeData *d : {web.get(), gone.get(), goneFile.get(), &text})
        EXPECT_FALSE(drop(window.get(), d)) << d->text().toStdString() << d->data("text/uri-list").toStdString();
    QApplication::processEvents();
    EXPECT_TRUE(searched.isEmpty());
}

// ------------------------------------------------------------------ why "Error"

struct ReasonCase {
    const char *file;
    const char *pages;
    const char *reason;
};

class NoFileManager final : public FileShell
{
public:
    bool openPath(const QByteArray &) override { return false; }
    void showItemInFolder(const QByteArray &, QObject *, Answer) override {}
    void showItemProperties(const QByteArray &, QObject *, Answer) override {}
    bool deleteFile(const QByteArray &, QString *) override { return false; }
};

TEST_F(FolderPickTest, EachResultCodeIsSaidInWordsInTheTooltipAndTheProperties)
{
    const ReasonCase cases[] = {
        {"open=-1.pdf", "Error", "Cannot open the file"},
        {"sig=-2.tif", "Error", "Not a TIFF file"},
        {"sig=-2.pdf", "Error", "Not a PDF file"},
        {"damaged=-3.pdf", "Error", "Damaged beyond repair"},
        {"locked=-4.pdf", "Error", "Needs a password"},
        {"slow=-5.pdf", "Error", "Gave up after 10 s"},
        {"header=0.tif", "0", "The file could not be read as a TIFF"},
        {"empty=0.pdf", "0", ""},
        {"fine=7.tiff", "7", ""},
    };
    for (const ReasonCase &c : cases)
        file(QString("docs/") + c.file);
    pickFolder(path("docs"));
    ASSERT_EQ(window->vsFiles->rows() - 1, int(std::size(cases)));

    NoFileManager shell;
    FileActions actions(*window->vsFiles, window.get(), shell);
    for (const ReasonCase &c : cases) {
        const int r = rowOf(c.file);
        ASSERT_GT(r, 0) << c.file;
        EXPECT_EQ(window->vsFiles->textMatrix(r, ColPages), c.pages) << c.file;
        const QVariant tip = window->vsFiles->model()->index(r - 1, ColPages).data(Qt::ToolTipRole);
        EXPECT_EQ(tip.toString(), c.reason) << c.file;

        window->vsFiles->setRow(r);
        actions.Properties();
        auto *dialog = window->findChild<FilePropertiesDialog *>();
        ASSERT_TRUE(dialog) << c.file;
        const QString expected = *c.reason ? QString("%1 (%2)").arg(c.pages, c.reason) : QString(c.pages);
        EXPECT_EQ(dialog->fieldText("Pages"), expected) << c.file;
        delete dialog;
    }
}

TEST_F(FolderPickTest, AMissingCounterIsTheReasonOfItsRows)
{
    makeWindow({CounterKind::Pdf});
    file("docs/a=3.pdf");
    file("docs/b=2.tif");
    pickFolder(path("docs"));
    EXPECT_EQ(window->vsFiles->cellToolTip(rowOf("a=3.pdf"), ColPages), "The page counter is missing");
    EXPECT_TRUE(window->vsFiles->cellToolTip(rowOf("b=2.tif"), ColPages).isEmpty());
}

// ------------------------------------------------------------------ selection totals

TEST_F(FolderPickTest, StatusBarShowsTheTotalsOfTwoOrMoreSelectedRows)
{
    for (const char *f : {"a=3.tif", "b=10.pdf", "c=-4.pdf", "d=5.TIFF", "e=0.pdf", "f=7.pdf"})
        file(QString("docs/") + f);
    pickFolder(path("docs"));
    ResultGrid *grid = window->vsFiles;
    QLabel *panel = window->sbGeneral->selectionPanel();
    ASSERT_EQ(grid->rows() - 1, 6);
    EXPECT_TRUE(panel->isHidden());

    grid->setIsSelected(rowOf("a=3.tif"), true);
    EXPECT_TRUE(panel->isHidden()) << "one row: nothing to total";
    for (const char *f : {"b=10.pdf", "c=-4.pdf", "e=0.pdf"})
        grid->setIsSelected(rowOf(f), true);
    EXPECT_FALSE(panel->isHidden());
    EXPECT_EQ(panel->text(), QString::fromUtf8("4 selected \u2013 TIFF 3 PDF 10 pages"));

    window->actions().mnuEditInvertSelection->trigger();  // d and f
    EXPECT_EQ(panel->text(), QString::fromUtf8("2 selected \u2013 TIFF 5 PDF 7 pages"));

    grid->setRowHiddenFlag(rowOf("f=7.pdf"), true);  // as Delete does
    EXPECT_TRUE(panel->isHidden());
    window->actions().mnuEditSelectAll->trigger();
    EXPECT_EQ(panel->text(), QString::fromUtf8("5 selected \u2013 TIFF 8 PDF 10 pages")) << "the deleted row counts not";
}

}  // namespace
