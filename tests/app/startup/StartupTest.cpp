// The start procedure: settings, hidden main window, splash for its 3000 ms, then the main window
// and its one initial search.

#include "GuiTestEnvironment.h"
#include "TestDocuments.h"

#include "AppIcon.h"
#include "AppSettings.h"
#include "ComRegistry.h"
#include "FifoRescue.h"
#include "FolderTree.h"
#include "MessageBoxes.h"
#include "ResultGrid.h"
#include "SettingsFile.h"
#include "StatusPanels.h"
#include "Startup.h"
#include "frmMain.h"
#include "frmSplash.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString why;
        ASSERT_TRUE(testdocs::useBuildRegistry(&why)) << why.toStdString();
        ASSERT_TRUE(QDir().mkpath(program.filePath("Settings")));
        modGlobal::SetProgramFolderOverride(program.path());
        modGlobal::AppSettings = modGlobal::SettingsRecord{};
    }
    void TearDown() override
    {
        modGlobal::SetProgramFolderOverride({});
        comrt::SetRegistryStorePath({});
    }
    void writeSettings(const QByteArray &ini)
    {
        QFile f(program.filePath("Settings/Settings.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ini);
    }
    static bool anyWindowVisible()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                return true;
        return false;
    }

    QTemporaryDir program;
    QTemporaryDir documents;
};

TEST_F(StartupTest, UnreadableSettingsShowOnlyTheMessageAndStop)
{
    writeSettings("[Grid]\r\nStyle=1\r\nForeColor=blue\r\n");
    platform::RecordingMessageBoxes boxes;
    Startup startup;
    EXPECT_FALSE(startup.start());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Error occured while reading setting parameters."))
        << boxes.shown[0].text.toStdString();
    EXPECT_EQ(startup.mainWindow(), nullptr);
    EXPECT_EQ(startup.splash(), nullptr);
    EXPECT_FALSE(anyWindowVisible());
}

TEST_F(StartupTest, SplashForItsTimeThenTheMainWindowSearchesOnce)
{
    ASSERT_TRUE(testdocs::writeTiff(QFile::encodeName(documents.filePath("a.tif")), 2));
    writeSettings("[General]\r\nStartupFolder=" + QFile::encodeName(documents.path()) + "\r\n");
    Startup startup;
    ASSERT_TRUE(startup.start());
    frmMain *main = startup.mainWindow();
    ASSERT_NE(main, nullptr);
    QSignalSpy statuses(main, &frmMain::statusShown);

    frmSplash *splash = startup.splash();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_TRUE(splash->isModal());
    EXPECT_EQ(splash->Timer1->interval(), 3000);
    EXPECT_TRUE(splash->Timer1->isActive());
    EXPECT_FALSE(main->isVisible()) << "loaded, not shown, while the splash is up";
    EXPECT_EQ(main->ftv->selectedFolder(), documents.path()) << "the load step applied StartupFolder";

    QSignalSpy finished(splash, &QDialog::finished);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(main->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return startup.splash() == nullptr; }));

    // The first activation searches the tree's folder once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->sbGeneral->panelText("Message") == "Done"; }));
    EXPECT_EQ(main->vsFiles->rows(), 2);
    EXPECT_EQ(main->vsFiles->textMatrix(1, ColPages), "2");
    EXPECT_EQ(main->CurrentFolder(), documents.path());
    auto searches = [&] {
        int n = 0;
        for (const QList<QVariant> &args : statuses)
            n += args.at(0).toString().startsWith("Searching ");
        return n;
    };
    EXPECT_EQ(searches(), 1);

    // Activated again (after another window had the focus): no second search.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    QApplication::processEvents();
    EXPECT_EQ(searches(), 1);
    main->close();
}

TEST_F(StartupTest, ClosingTheSplashEarlyShowsTheMainWindowAtOnce)
{
    writeSettings("");
    Startup startup;
    ASSERT_TRUE(startup.start());
    ASSERT_NE(startup.splash(), nullptr);
    startup.splash()->close();
    EXPECT_TRUE(startup.mainWindow()->isVisible());
    startup.mainWindow()->close();
}

TEST_F(StartupTest, EmptyStartupFolderStillStarts)
{
    writeSettings("[General]\r\nStartupFolder=\r\n");
    Startup startup;
    ASSERT_TRUE(startup.start());
    startup.splash()->close();
    frmMain *main = startup.mainWindow();
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(main->windowTitle(), "Quirewell");
    EXPECT_EQ(main->ftv->selectedFolder(), QDir::homePath());
    main->close();
}

// A background picture that is a FIFO must not hold the start: the windows come up without it.
TEST_F(StartupTest, AFifoAsBackPictureDoesNotHoldTheStart)
{
    const QByteArray picture = QFile::encodeName(program.filePath("paper.png"));
    FifoRescue fifo(picture.toStdString());
    ASSERT_TRUE(fifo.made());
    writeSettings("[Grid]\r\nBackPicture=" + picture + "\r\n[General]\r\nStartupFolder=" +
                  QFile::encodeName(documents.path()) + "\r\n");
    Startup startup;
    ASSERT_TRUE(startup.start());
    EXPECT_FALSE(fifo.rescued()) << "start-up waited on the FIFO";
    frmMain *main = startup.mainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->vsFiles->backPicture().isNull());
    startup.splash()->close();
    EXPECT_TRUE(main->isVisible());
    main->close();
}

// "Open With" on a folder: the folder given wins over the start-up folder, and the first
// search walks it.
TEST_F(StartupTest, FolderArgumentIsSearchedFirst)
{
    QTemporaryDir other;
    ASSERT_TRUE(testdocs::writeTiff(QFile::encodeName(other.filePath("b.tif")), 3));
    writeSettings("[General]\r\nStartupFolder=" + QFile::encodeName(documents.path()) + "\r\n");
    Startup startup;
    startup.setStartFolder(other.path());
    ASSERT_TRUE(startup.start());
    startup.splash()->close();
    frmMain *main = startup.mainWindow();
    EXPECT_EQ(main->ftv->selectedFolder(), other.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->sbGeneral->panelText("Message") == "Done"; }));
    EXPECT_EQ(main->CurrentFolder(), other.path());
    EXPECT_EQ(main->vsFiles->textMatrix(1, ColPages), "3");
    main->close();
}

// The window icon is drawn from the same SVG the icon theme gets, at the sizes task bars use.
TEST(ApplicationIconTest, IsDrawnAtEverySize)
{
    const QIcon icon = ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));
    const QImage image = icon.pixmap(QSize(48, 48)).toImage();
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "a transparent corner";
    EXPECT_GT(image.pixelColor(24, 24).alpha(), 0) << "the drawing in the middle";
}

}  // namespace
