// The About box, its links, System Info and the help commands, with a recording desktop.

#include "DesktopShell.h"
#include "GuiTestEnvironment.h"
#include "HelpCommands.h"
#include "MessageBoxes.h"
#include "ProductInfo.h"
#include "SysInfo.h"
#include "dlgAbout.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class FakeShell final : public DesktopShell {
public:
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return acceptOpen;
    }
    bool startProgram(const QString &program, const QStringList &arguments) override
    {
        started << program;
        Q_UNUSED(arguments);
        return !refuseToStart.contains(program);
    }
    QList<QUrl> opened;
    QStringList started;
    QStringList refuseToStart;
    bool acceptOpen = true;
};

void makeExecutable(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexit 0\n");
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

void setStoreValue(const char *key, const char *name, const QByteArray &value)
{
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                             nullptr, &h, &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(h, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.constData()),
                            DWORD(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(h);
}

constexpr char kToolKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kFolderKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";

// Each case runs on a fresh registration store and with its own tool folders.
class SysInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        comrt::SetRegistryStorePath(dir.filePath(QStringLiteral("store.reg")).toStdString());
        QDir(dir.path()).mkpath(QStringLiteral("msinfo"));
        QDir(dir.path()).mkpath(QStringLiteral("bin-empty"));
        QDir(dir.path()).mkpath(QStringLiteral("bin-desktop"));
        makeExecutable(dir.filePath(QStringLiteral("bin-desktop/kinfocenter")));
    }
    void TearDown() override { comrt::SetRegistryStorePath(std::string()); }

    QString path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }

    QTemporaryDir dir;
    FakeShell shell;
    platform::RecordingMessageBoxes boxes;
};

TEST_F(SysInfoTest, ToolPathRecordedInTheStoreIsStartedFirst)
{
    setStoreValue(kToolKey, "PATH", "/opt/tools/sysinfo");
    EXPECT_TRUE(StartSysInfo(shell, nullptr, {path("bin-desktop")}));
    EXPECT_EQ(shell.started, QStringList{"/opt/tools/sysinfo"});
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(SysInfoTest, FolderRecordedInTheStoreIsUsedWhenItHoldsTheTool)
{
    makeExecutable(path("msinfo/MSINFO32.EXE"));
    setStoreValue(kFolderKey, "MSINFO", path("msinfo").toUtf8());
    EXPECT_TRUE(StartSysInfo(shell, nullptr, {path("bin-empty")}));
    EXPECT_EQ(shell.started, QStringList{path("msinfo/MSINFO32.EXE")});
}

TEST_F(SysInfoTest, RecordedFolderWithoutTheToolFallsBackToTheDesktopTool)
{
    setStoreValue(kFolderKey, "MSINFO", path("msinfo").toUtf8());
    EXPECT_TRUE(StartSysInfo(shell, nullptr, {path("bin-desktop")}));
    EXPECT_EQ(shell.started, QStringList{path("bin-desktop/kinfocenter")});
}

TEST_F(SysInfoTest, RecordedToolThatWillNotStartFallsBackToTheDesktopTool)
{
    setStoreValue(kToolKey, "PATH", "/nowhere/sysinfo");
    shell.refuseToStart << "/nowhere/sysinfo";
    EXPECT_TRUE(StartSysInfo(shell, nullptr, {path("bin-desktop")}));
    EXPECT_EQ(shell.started, (QStringList{"/nowhere/sysinfo", path("bin-desktop/kinfocenter")}));
}

TEST_F(SysInfoTest, NothingFoundSaysSoWithoutIcon)
{
    setStoreValue(kFolderKey, "MSINFO", path("msinfo").toUtf8());  // folder without the tool
    EXPECT_FALSE(StartSysInfo(shell, nullptr, {path("bin-empty")}));
    EXPECT_TRUE(shell.started.isEmpty());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "System Information Is Unavailable At This Time");
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::None);
    EXPECT_EQ(boxes.shown[0].buttons, platform::MsgButtons::Ok);
}

TEST_F(SysInfoTest, GetKeyValueReportsMissingKeysAndValues)
{
    QString value = "stale";
    EXPECT_FALSE(GetKeyValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", value));
    EXPECT_TRUE(value.isEmpty());

    setStoreValue(kToolKey, "Other", "x");
    value = "stale";
    EXPECT_FALSE(GetKeyValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", value));
    EXPECT_TRUE(value.isEmpty());

    setStoreValue(kToolKey, "PATH", QByteArray(1023, 'a'));  // 1023 + NUL fits the 1024-byte buffer
    EXPECT_TRUE(GetKeyValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", value));
    EXPECT_EQ(value.size(), 1023);

    setStoreValue(kToolKey, "PATH", QByteArray(1024, 'a'));
    EXPECT_FALSE(GetKeyValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", value));
    EXPECT_TRUE(value.isEmpty());
}

TEST_F(SysInfoTest, AboutBoxButtonRunsTheSameSearch)
{
    setStoreValue(kToolKey, "PATH", "/opt/tools/sysinfo");
    dlgAbout box(shell);
    box.setToolSearchPath({path("bin-empty")});
    box.findChild<QPushButton *>("cmdSysInfo")->click();
    EXPECT_EQ(shell.started, QStringList{"/opt/tools/sysinfo"});
}

TEST(AboutBox, LinksOpenMailAndWebsiteThroughTheDesktop)
{
    FakeShell shell;
    dlgAbout box(shell);
    box.show();
    auto *mail = box.findChild<QLabel *>("Label3");
    auto *web = box.findChild<QLabel *>("Label5");
    ASSERT_TRUE(mail && web);
    EXPECT_EQ(mail->text(), product::SupportAddress);
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
    EXPECT_EQ(mail->cursor().shape(), Qt::PointingHandCursor);

    QTest::mouseClick(mail, Qt::LeftButton);
    QTest::mouseClick(web, Qt::LeftButton);
    QTest::mouseClick(web, Qt::RightButton);  // not a link activation
    ASSERT_EQ(shell.opened.size(), 2);
    EXPECT_EQ(shell.opened[0].scheme(), "mailto");
    EXPECT_EQ(shell.opened[0].path(), "support@quirewell.example");
    EXPECT_EQ(shell.opened[0].query(), "subject=Quirewell");
    EXPECT_EQ(shell.opened[1], QUrl("https://quirewell.example"));
}

TEST(AboutBox, FixedTextsAndButtons)
{
    FakeShell shell;
    dlgAbout box(shell);
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_FALSE(box.isModal());
    auto *ok = box.findChild<QPushButton *>("cmdOK");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "&OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(box.findChild<QPushButton *>("cmdSysInfo")->text(), "System Info...");
    QStringList texts;
    for (auto *label : box.findChildren<QLabel *>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Quirewell 2.0 Build 9"));
}

TEST(AboutBox, OnlyOneBoxAndOkDestroysIt)
{
    FakeShell shell;
    dlgAbout *first = dlgAbout::ShowAbout(shell);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));  // never keeps the program alive
    EXPECT_EQ(dlgAbout::ShowAbout(shell), first);
    const QWidgetList tops = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(tops.begin(), tops.end(), [](QWidget *w) { return qobject_cast<dlgAbout *>(w); }),
              1);

    first->findChild<QPushButton *>("cmdOK")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dlgAbout::openInstance(), nullptr);

    dlgAbout *second = dlgAbout::ShowAbout(shell);
    ASSERT_TRUE(second);
    second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dlgAbout::openInstance(), nullptr);
}

// An installed program has its help page in share/doc; a copy beside the program comes first.
TEST(HelpCommands, InstalledHelpPageIsFound)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("usr/bin"));
    ASSERT_TRUE(QDir(root.path()).mkpath("usr/share/doc/quirewell"));
    const QString bin = root.filePath("usr/bin");
    const QString beside = bin + "/Quirewell.html";
    const QString installed = root.filePath("usr/share/doc/quirewell/Quirewell.html");
    EXPECT_EQ(HelpFilePathFor(bin), beside) << "neither: the message names the program folder";
    QFile doc(installed);
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.close();
    EXPECT_EQ(HelpFilePathFor(bin), installed);
    QFile copy(beside);
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.close();
    EXPECT_EQ(HelpFilePathFor(bin), beside);
}

// The help file is looked for beside the program, not in the working folder.
TEST(HelpCommands, HelpFileIsFoundBesideTheProgram)
{
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    QFile decoy(work.filePath("Quirewell.html"));
    ASSERT_TRUE(decoy.open(QIODevice::WriteOnly));
    decoy.close();

    const QString expected = QDir(QCoreApplication::applicationDirPath()).filePath("Quirewell.html");
    EXPECT_EQ(HelpFilePath(), expected);

    FakeShell shell;
    platform::RecordingMessageBoxes boxes;
    QFile::remove(expected);
    EXPECT_FALSE(OpenHelpFile(shell, nullptr));
    EXPECT_TRUE(shell.opened.isEmpty());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.contains(expected));

    QFile help(expected);
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.close();
    EXPECT_TRUE(OpenHelpFile(shell, nullptr));
    EXPECT_EQ(shell.opened, QList<QUrl>{QUrl::fromLocalFile(expected)});
    EXPECT_EQ(boxes.shown.size(), 1);

    shell.acceptOpen = false;
    EXPECT_FALSE(OpenHelpFile(shell, nullptr));
    EXPECT_EQ(boxes.shown.size(), 2);

    QFile::remove(expected);
    QDir::setCurrent(previous);
}

TEST(HelpCommands, WebsiteOpensTheProductAddress)
{
    FakeShell shell;
    platform::RecordingMessageBoxes boxes;
    EXPECT_TRUE(OpenWebsite(shell, nullptr));
    EXPECT_EQ(shell.opened, QList<QUrl>{QUrl("https://quirewell.example")});
    EXPECT_TRUE(boxes.shown.isEmpty());
}

}  // namespace
