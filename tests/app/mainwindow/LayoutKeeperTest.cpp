// The main window's first layout, the layout it keeps between runs through Settings.ini, and the
// names it gives assistive tools.

#include "GuiTestEnvironment.h"
#include "NamedCounters.h"

#include "AppSettings.h"
#include "ColumnFitter.h"
#include "FolderTree.h"
#include "ResultGrid.h"
#include "SearchCriteriaPanel.h"
#include "Twips.h"
#include "WindowLayout.h"
#include "WindowLayoutKeeper.h"
#include "dlgPreferences.h"
#include "frmMain.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

class LayoutKeeperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
        ASSERT_TRUE(QDir().mkpath(dir.filePath("docs")));
        for (const char *name : {"a rather long file name of a scanned contract=12.tif", "b=3.pdf", "c=-3.pdf"}) {
            QFile f(dir.filePath("docs/") + name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        modGlobal::AppSettings.StartupFolder = dir.filePath("docs");
    }

    std::unique_ptr<frmMain> newWindow()
    {
        return std::make_unique<frmMain>(nullptr, testwindow::namedCounters());
    }
    static void showAndSettle(frmMain &w)
    {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !w.FirstActivation() && w.vsFiles->rows() == 4 && !w.folderSearch().isRunning(); }));
        QApplication::processEvents();
    }
    QString settingsPath() const { return dir.filePath("Settings/Settings.ini"); }

    QTemporaryDir dir;
};

// ------------------------------------------------------------------ the first window

struct ScreenCase {
    int width;
    int height;
};

void PrintTo(const ScreenCase &c, std::ostream *os)
{
    *os << c.width << "x" << c.height;
}

class FirstWindowTest : public LayoutKeeperTest, public ::testing::WithParamInterface<ScreenCase>
{
};

TEST_P(FirstWindowTest, EveryColumnFitsAndPagesIsWhole)
{
    const QRect available(0, 0, GetParam().width, GetParam().height);
    auto w = newWindow();
    const QRect first = WindowLayoutKeeper::firstStartGeometry(available, w->minimumSize());
    EXPECT_NEAR(first.width(), available.width() * 0.8, 1);
    EXPECT_NEAR(first.height(), available.height() * 0.8, 1);
    EXPECT_EQ(first.center(), available.center());
    w->setGeometry(first);
    showAndSettle(*w);
    EXPECT_LE(w->width(), available.width());
    EXPECT_LE(w->height(), available.height()) << "the window's own minimum must not push it off the screen";

    QTableView *view = w->vsFiles->view();
    int total = 0;
    for (int c = 0; c < ColFullPath; ++c) {
        ASSERT_FALSE(view->isColumnHidden(c));
        total += view->columnWidth(c);
    }
    EXPECT_EQ(total, view->viewport()->width()) << "the columns end at the grid's right edge";
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    const QFontMetrics fm = view->horizontalHeader()->fontMetrics();
    EXPECT_GE(view->columnWidth(ColPages), w->vsFiles->columnFitter().minimumWidth(ColPages));
    EXPECT_GE(view->columnWidth(ColPages), fm.horizontalAdvance("Pages") + 11 + 8);
    EXPECT_GE(view->columnWidth(ColModifiedDate), fm.horizontalAdvance("Modified Date") + 11 + 8);
    // The spare width went to the two text columns.
    EXPECT_GT(view->columnWidth(ColFileName), platform::twipsToPixels(1500));
    EXPECT_GT(view->columnWidth(ColLocation), platform::twipsToPixels(2500));

    // Maximised (or any wider), the text columns grow and the columns still end at the edge.
    const int nameBefore = view->columnWidth(ColFileName);
    w->resize(available.width(), available.height());
    QApplication::processEvents();
    EXPECT_GT(view->columnWidth(ColFileName), nameBefore);
    total = 0;
    for (int c = 0; c < ColFullPath; ++c)
        total += view->columnWidth(c);
    EXPECT_EQ(total, view->viewport()->width());
}

INSTANTIATE_TEST_SUITE_P(Screens, FirstWindowTest, ::testing::Values(ScreenCase{1600, 1000}, ScreenCase{1280, 720}));

TEST(FirstStartGeometry, NeverBelowTheMinimumNorBeyondTheArea)
{
    const QSize minimum(800, 400);
    EXPECT_EQ(WindowLayoutKeeper::firstStartGeometry(QRect(0, 0, 1600, 1000), minimum), QRect(160, 100, 1280, 800));
    EXPECT_EQ(WindowLayoutKeeper::firstStartGeometry(QRect(1920, 30, 1000, 600), minimum).size(), QSize(800, 480));
    EXPECT_EQ(WindowLayoutKeeper::firstStartGeometry(QRect(0, 0, 700, 300), minimum), QRect(0, 0, 800, 400))
        << "a screen below the minimum: the minimum, from its top-left corner";
}

TEST(RememberedGeometry, KeptOnAScreenElseTheFirstStartArea)
{
    const QList<QRect> screens{QRect(0, 0, 1600, 1000), QRect(1600, 0, 1280, 720)};
    const QSize minimum(800, 400);
    EXPECT_EQ(WindowLayoutKeeper::onScreen(QRect(100, 50, 900, 600), screens, minimum), QRect(100, 50, 900, 600));
    EXPECT_EQ(WindowLayoutKeeper::onScreen(QRect(1700, 40, 900, 600), screens, minimum), QRect(1700, 40, 900, 600));
    EXPECT_EQ(WindowLayoutKeeper::onScreen(QRect(5000, 40, 900, 600), screens, minimum), QRect(160, 100, 1280, 800))
        << "a screen that is gone";
    EXPECT_EQ(WindowLayoutKeeper::onScreen(QRect(1500, 100, 2000, 900), screens, minimum), QRect(1600, 0, 1280, 720))
        << "bigger than its screen: shrunk and pulled inside";
}

// ------------------------------------------------------------------ between runs

TEST_F(LayoutKeeperTest, LayoutSurvivesARestartThroughTheSettingsFile)
{
    const QByteArray before = "[Grid]\r\nStyle=13\r\n[General]\r\nStartupFolder=" +
                              QFile::encodeName(dir.filePath("docs")) + "\r\n";
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
    {
        QFile f(settingsPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }

    QRect geometry;
    int treeWidth = 0;
    int sizeWidth = 0;
    {
        auto w = newWindow();
        auto *keeper = new WindowLayoutKeeper(*w, settingsPath());
        keeper->restore();
        showAndSettle(*w);
        // Inside the test screen's area, which the keeper would otherwise pull it into.
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        w->setGeometry(area.left(), area.top() + 40, w->minimumWidth(), area.height() - 60);
        QApplication::processEvents();
        w->spSplitter->setSizes({300, 800});
        w->vsFiles->view()->setColumnWidth(ColSize, 140);
        w->vsFiles->SortBy(ColPages, FlexGrid::SortedDescending);
        w->cmdShowHideAdvanceSearch->click();
        QApplication::processEvents();
        geometry = w->geometry();
        treeWidth = w->spSplitter->sizes().first();
        sizeWidth = w->vsFiles->view()->columnWidth(ColSize);
        w->close();
    }
    QFile f(settingsPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    EXPECT_TRUE(after.startsWith(before)) << "the other sections keep every byte";
    const modGlobal::WindowLayout saved = modGlobal::ReadWindowLayout(settingsPath());
    EXPECT_EQ(saved.SortColumn, ColPages);
    EXPECT_EQ(saved.AdvancedShown, 0);

    auto w = newWindow();
    auto *keeper = new WindowLayoutKeeper(*w, settingsPath());
    keeper->restore();
    EXPECT_EQ(w->cmdShowHideAdvanceSearch->text(), "Show Advance Option");
    EXPECT_TRUE(w->criteriaPanel->advancedFrame()->isHidden());
    EXPECT_EQ(w->vsFiles->sortedColumn(), ColPages);
    EXPECT_FALSE(w->vsFiles->cellPicture(0, ColPages).isNull()) << "the arrow is back in its header";
    showAndSettle(*w);
    EXPECT_EQ(w->geometry(), geometry);
    EXPECT_NEAR(w->spSplitter->sizes().first(), treeWidth, 1);
    EXPECT_EQ(w->vsFiles->view()->columnWidth(ColSize), sizeWidth);
    // The first search's rows come sorted as they were left: Pages descending, "Error" last.
    QStringList pages;
    for (int r = 1; r < w->vsFiles->rows(); ++r)
        pages << w->vsFiles->textMatrix(r, ColPages);
    EXPECT_EQ(pages, (QStringList{"12", "3", "Error"}));
    // The next header click goes the other way, as it would have before the restart.
    w->vsFiles->view()->horizontalHeader()->sectionClicked(ColPages);
    EXPECT_EQ(w->vsFiles->sortedOrder(), FlexGrid::SortedAscending);
}

TEST_F(LayoutKeeperTest, AFileWithoutTheSectionGivesTheFirstStartLayout)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
    QFile f(settingsPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Grid]\r\nStyle=1\r\n");
    f.close();
    auto w = newWindow();
    (new WindowLayoutKeeper(*w, settingsPath()))->restore();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w->geometry(), WindowLayoutKeeper::firstStartGeometry(available, w->minimumSize()));
    EXPECT_EQ(w->vsFiles->sortedColumn(), -1);
    EXPECT_FALSE(w->criteriaPanel->advancedFrame()->isHidden());
    EXPECT_EQ(w->cmdShowHideAdvanceSearch->text(), "Hide Advance Options");
}

// A remembered tree width, however odd, leaves both panes usable: the tree at least its own
// minimum, the grid about half the width (the window's margins aside) and at least its own minimum.
struct TreeWidthCase {
    const char *label;
    int twips;
    bool kept;  // a sensible width comes back as it was
};

void PrintTo(const TreeWidthCase &c, std::ostream *os)
{
    *os << c.label;
}

class RememberedTreeWidthTest : public LayoutKeeperTest, public ::testing::WithParamInterface<TreeWidthCase>
{
};

TEST_P(RememberedTreeWidthTest, EachPaneKeepsAUsableShare)
{
    const TreeWidthCase &c = GetParam();
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Settings")));
    {
        QFile f(settingsPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Window]\r\nTreeWidth=" + QByteArray::number(c.twips) + "\r\n");
    }
    auto w = newWindow();
    (new WindowLayoutKeeper(*w, settingsPath()))->restore();
    showAndSettle(*w);
    const QList<int> sizes = w->spSplitter->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_GE(sizes[0], w->ftv->minimumSizeHint().width());
    EXPECT_GE(sizes[1], w->vsFiles->minimumSizeHint().width());
    EXPECT_GE(sizes[1] * 5, w->spSplitter->width() * 2) << "the grid keeps a usable share: " << sizes[1];
    if (c.kept) {
        EXPECT_NEAR(sizes[0], platform::twipsToPixels(c.twips), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, RememberedTreeWidthTest,
                         ::testing::Values(TreeWidthCase{"extreme", 1000000, false},
                                           TreeWidthCase{"wider than the screen", 60000, false},
                                           TreeWidthCase{"zero", 0, false},
                                           TreeWidthCase{"sensible", 3000, true}));

// ------------------------------------------------------------------ assistive tools

// Every control a user can reach by keyboard has a name of its own, found the way a screen reader
// finds it: walking the accessibility tree from the window.
void collectUnnamed(QAccessibleInterface *iface, QStringList &unnamed, QStringList &named, int depth = 0)
{
    if (!iface || depth > 40)
        return;
    const QAccessible::State state = iface->state();
    const QAccessible::Role role = iface->role();
    if (state.focusable && !state.invisible) {
        const QString name = iface->text(QAccessible::Name);
        QObject *o = iface->object();
        const QString who = (o ? o->objectName() + " " + o->metaObject()->className() : QString("?")) + " role " +
                            QString::number(role);
        (name.trimmed().isEmpty() ? unnamed : named) << who + ": " + name;
    }
    // Cells and tree rows are named by their own text; the containers are what matters here.
    if (role == QAccessible::Table || role == QAccessible::Tree || role == QAccessible::List)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        collectUnnamed(iface->child(i), unnamed, named, depth + 1);
}

TEST_F(LayoutKeeperTest, NoFocusableControlIsUnnamed)
{
    auto w = newWindow();
    showAndSettle(*w);
    QStringList unnamed, named;
    collectUnnamed(QAccessible::queryAccessibleInterface(w.get()), unnamed, named);
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join("\n").toStdString();
    const QString all = named.join("\n");
    for (const char *expected : {"Folders", "Files found", "Address", "Date from", "Date to", "Size from, in KB"})
        EXPECT_TRUE(all.contains(QString(": ") + expected)) << expected << "\n" << all.toStdString();
}

// The tree shows folder names only; a screen reader must not find more (size, type and date
// columns of folders, or their headers) than the eye does.
TEST(FolderTreeNames, OnlyTheNameColumnReachesAssistiveTools)
{
    QTemporaryDir dir;
    for (const char *name : {"alpha", "beta"})
        ASSERT_TRUE(QDir().mkpath(dir.filePath(name)));
    FolderTree tree;
    tree.resize(300, 400);
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    ASSERT_TRUE(tree.setSelectedFolder(dir.filePath("alpha")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree.model()->rowCount(tree.currentIndex().parent()) == 2; }));
    QApplication::processEvents();

    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&tree);
    ASSERT_TRUE(iface);
    QAccessibleTableInterface *table = iface->tableInterface();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->columnCount(), 1);
    QStringList names;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        ASSERT_TRUE(child) << i;
        names << child->text(QAccessible::Name);
        if (QAccessibleTableCellInterface *cell = child->tableCellInterface()) {
            EXPECT_EQ(cell->columnIndex(), 0) << child->text(QAccessible::Name).toStdString();
        }
    }
    EXPECT_TRUE(names.contains("alpha")) << names.join(", ").toStdString();
    EXPECT_TRUE(names.contains("beta")) << names.join(", ").toStdString();
    for (const char *hidden : {"Size", "Type", "Date Modified"})
        EXPECT_FALSE(names.contains(hidden)) << hidden;
}

TEST(PreferencesNames, EveryBrowseButtonSaysWhatItPicks)
{
    modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
    dlgPreferences dlg({"File Name", "Location", "Size", "Modified Date", "Pages"}, [] {});
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QStringList unnamed, named;
    collectUnnamed(QAccessible::queryAccessibleInterface(&dlg), unnamed, named);
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join("\n").toStdString();
    QStringList browse;
    for (QPushButton *b : dlg.findChildren<QPushButton *>())
        if (b->text() == "...")
            browse << b->accessibleName();
    EXPECT_EQ(browse.size(), 8);
    EXPECT_FALSE(browse.contains(QString()));
    browse.removeDuplicates();
    EXPECT_EQ(browse.size(), 8) << "each its own name";
}

}  // namespace
