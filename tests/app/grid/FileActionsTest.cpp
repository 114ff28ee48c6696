// The file commands on a result grid over real files in a temporary folder, with the desktop
// replaced by a recorder that deletes for real.

#include "FileActions.h"
#include "FilePropertiesDialog.h"
#include "FileNames.h"
#include "FileShell.h"
#include "AppSettings.h"
#include "GuiTestEnvironment.h"
#include "MessageBoxes.h"
#include "ResultGrid.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QPushButton>
#include <QLabel>
#include <QUrl>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

class RecordingShell final : public FileShell {
public:
    bool openPath(const QByteArray &path) override
    {
        opened << path;
        return acceptOpen;
    }
    void showItemInFolder(const QByteArray &path, QObject *context, Answer answer) override
    {
        shownInFolder << path;
        answerLater(context, std::move(answer));
    }
    void showItemProperties(const QByteArray &path, QObject *context, Answer answer) override
    {
        properties << path;
        answerLater(context, std::move(answer));
    }
    // As the desktop does: the answer comes from the event loop, never inside the request.
    void answerLater(QObject *context, Answer answer)
    {
        QTimer::singleShot(0, context ? context : qApp, [answer, accepted = fileManagerAnswers] { answer(accepted); });
    }
    bool deleteFile(const QByteArray &path, QString *error) override
    {
        deleted << path;
        return systemFileShell().deleteFile(path, error);
    }
    QList<QByteArray> opened, shownInFolder, properties, deleted;
    bool acceptOpen = true;
    bool fileManagerAnswers = true;
};

class FileActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
        for (const char *name : {"one.tif", "two.pdf", "three.pdf"})
            addFile(QString::fromLatin1(name));
    }

    QString addFile(const QString &name, const QString &pages = "1")
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("data");
        f.close();
        ResultRow row;
        row.FileName = name;
        row.Location = dir.path();
        row.SizeKb = "1";
        row.Pages = pages;
        row.FullPath = path;
        grid.AppendResultRow(row);
        return path;
    }
    QString pathOf(int row) const { return grid.textMatrix(row, ColFullPath); }
    bool exists(int row) const { return QFile::exists(pathOf(row)); }

    QTemporaryDir dir;
    ResultGrid grid;
    RecordingShell shell;
    platform::RecordingMessageBoxes boxes;
    FileActions actions{grid, nullptr, shell};
};

TEST_F(FileActionsTest, DeleteStopsAtTheFirstFailureAndKeepsTheRest)
{
    for (int r = 1; r <= 3; ++r)
        grid.setIsSelected(r, true);
    ASSERT_TRUE(QFile::remove(pathOf(2)));  // cannot be deleted any more

    EXPECT_FALSE(actions.DeleteSelectedFiles());

    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, "Are you sure to delete selected files?");
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Question);
    EXPECT_EQ(boxes.shown[0].buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(boxes.shown[1].text, "Unable to delete file " + pathOf(2));
    EXPECT_EQ(boxes.shown[1].icon, platform::MsgIcon::None);
    EXPECT_EQ(boxes.shown[1].buttons, platform::MsgButtons::Ok);
    EXPECT_FALSE(exists(1));
    EXPECT_TRUE(grid.rowHidden(1));
    EXPECT_FALSE(grid.rowHidden(2));
    EXPECT_TRUE(exists(3));
    EXPECT_FALSE(grid.rowHidden(3));
    EXPECT_EQ(shell.deleted.size(), 2);  // the third was never tried
    // The command leaves the selection and the row count alone.
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_TRUE(grid.isSelected(3));
}

TEST_F(FileActionsTest, FileInAMissingFolderStopsTheDeleteToo)
{
    const QString gone = dir.filePath("gone/four.pdf");
    ResultRow row;
    row.FileName = "four.pdf";
    row.FullPath = gone;
    const int r = grid.AppendResultRow(row);
    grid.setIsSelected(r, true);
    EXPECT_FALSE(actions.DeleteSelectedFiles());
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[1].text, "Unable to delete file " + gone);
}

TEST_F(FileActionsTest, AnsweringNoDeletesNothing)
{
    grid.setIsSelected(-1, true);
    boxes.answers = {platform::MsgResult::No};
    EXPECT_TRUE(actions.DeleteSelectedFiles());
    EXPECT_TRUE(shell.deleted.isEmpty());
    for (int r = 1; r <= 3; ++r) {
        EXPECT_TRUE(exists(r));
        EXPECT_FALSE(grid.rowHidden(r));
    }
}

TEST_F(FileActionsTest, NothingSelectedAsksNothing)
{
    EXPECT_TRUE(actions.DeleteSelectedFiles());
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(shell.deleted.isEmpty());
}

TEST_F(FileActionsTest, DeleteKeyAsksTheSameQuestion)
{
    QObject::connect(&grid, &ResultGrid::deleteRequested, &grid, [this] { actions.DeleteSelectedFiles(); });
    grid.show();
    grid.setIsSelected(2, true);
    boxes.answers = {platform::MsgResult::No};
    QTest::keyClick(grid.view(), Qt::Key_Delete);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "Are you sure to delete selected files?");
    EXPECT_TRUE(exists(2));
}

TEST_F(FileActionsTest, SelectAllAndDeleteAfterAnEarlierDeletion)
{
    grid.setIsSelected(2, true);
    ASSERT_TRUE(actions.DeleteSelectedFiles());
    ASSERT_TRUE(grid.rowHidden(2));

    grid.SelectAll();
    EXPECT_TRUE(actions.DeleteSelectedFiles());
    EXPECT_EQ(boxes.shown.size(), 2);  // two questions, no failure
    for (int r = 1; r <= 3; ++r) {
        EXPECT_FALSE(exists(r));
        EXPECT_TRUE(grid.rowHidden(r));
    }
    EXPECT_EQ(shell.deleted.size(), 3);
}

TEST_F(FileActionsTest, OnlyHiddenRowsSelectedAsksNothing)
{
    grid.setIsSelected(1, true);
    ASSERT_TRUE(actions.DeleteSelectedFiles());
    boxes.shown.clear();
    EXPECT_TRUE(actions.DeleteSelectedFiles());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(FileActionsTest, CommandsOnTheCurrentRowUseTheFullPathColumn)
{
    grid.setTextMatrix(2, ColFileName, "shown name.pdf");  // never used to find the file
    grid.setRow(2);
    grid.setCol(0);
    QWidget owner;
    FileActions withOwner(grid, &owner, shell);
    withOwner.Open();
    withOwner.ShowContainingFolder();
    withOwner.Properties();
    auto *dialog = owner.findChild<FilePropertiesDialog *>();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(dialog->fileManagerButton());
    dialog->fileManagerButton()->click();
    const QByteArray expected = QFile::encodeName(pathOf(2));
    EXPECT_EQ(shell.opened, QList<QByteArray>{expected});
    EXPECT_EQ(shell.shownInFolder, QList<QByteArray>{expected});
    EXPECT_EQ(shell.properties, QList<QByteArray>{expected});
    EXPECT_EQ(dialog->fieldText("Name"), "two.pdf");
}

TEST(FileActionsEmpty, NoCurrentDataRowDoesNothing)
{
    ResultGrid grid;
    grid.SetUpResultGrid(modGlobal::SettingsRecord::defaults());
    RecordingShell shell;
    platform::RecordingMessageBoxes boxes;
    FileActions actions(grid, nullptr, shell);
    actions.Open();
    actions.Properties();
    actions.ShowContainingFolder();
    EXPECT_TRUE(shell.opened.isEmpty());
    EXPECT_TRUE(shell.shownInFolder.isEmpty());
    EXPECT_TRUE(shell.properties.isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(FileActionsTest, ContainingFolderOpensWhenNoFileManagerSelectsTheFile)
{
    EXPECT_TRUE(actions.OpenContainingFolder("/data/scans/2005/a.pdf"));
    QApplication::processEvents();
    EXPECT_TRUE(shell.opened.isEmpty()) << "the file manager showed it";

    shell.fileManagerAnswers = false;
    EXPECT_TRUE(actions.OpenContainingFolder("/data/scans/2005/a.pdf"));
    EXPECT_TRUE(shell.opened.isEmpty()) << "nothing before the answer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.opened.isEmpty(); }));
    EXPECT_EQ(shell.opened, QList<QByteArray>{"/data/scans/2005/"});
    EXPECT_EQ(FileActions::ContainingFolder("a.pdf"), "");
    EXPECT_EQ(FileActions::ContainingFolder("/a.pdf"), "/");
}

TEST_F(FileActionsTest, PropertiesOfAVanishedFileShowNothing)
{
    ASSERT_TRUE(QFile::remove(pathOf(1)));
    EXPECT_FALSE(actions.ShowFileProperties(pathOf(1)));
    EXPECT_TRUE(shell.properties.isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(FileActionsTest, OwnPropertiesWindowAlsoWhereAFileManagerAnswers)
{
    QWidget owner;
    FileActions withOwner(grid, &owner, shell);
    grid.setTextMatrix(3, ColPages, "12");
    grid.setRow(3);
    withOwner.Properties();
    auto *dialog = owner.findChild<FilePropertiesDialog *>();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(shell.properties.isEmpty()) << "the file manager is asked only from the button";
    EXPECT_EQ(dialog->fieldText("Name"), "three.pdf");
    EXPECT_EQ(dialog->fieldText("Folder"), dir.path());
    EXPECT_TRUE(dialog->fieldText("Size").contains("4 bytes"));
    EXPECT_EQ(dialog->fieldText("Pages"), "12");
    EXPECT_EQ(dialog->fieldText("Type"), "PDF document");
    EXPECT_TRUE(dialog->fieldText("Permissions").startsWith("rw"));
    EXPECT_NE(dialog->fieldText("Modified"), "Unknown");
}

TEST_F(FileActionsTest, PropertiesButtonSaysSoWhenNoFileManagerAnswers)
{
    QWidget owner;
    FileActions withOwner(grid, &owner, shell);
    grid.setRow(1);
    withOwner.Properties();
    auto *dialog = owner.findChild<FilePropertiesDialog *>();
    ASSERT_TRUE(dialog);
    QPushButton *ask = dialog->fileManagerButton();
    ASSERT_TRUE(ask);

    shell.fileManagerAnswers = false;
    ask->click();
    EXPECT_FALSE(ask->isEnabled()) << "one request at a time";
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask->isEnabled(); }));
    EXPECT_FALSE(dialog->fileManagerNote()->isHidden());
    EXPECT_EQ(dialog->fileManagerNote()->text(), "No file manager answered.");

    shell.fileManagerAnswers = true;
    ask->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask->isEnabled(); }));
    EXPECT_TRUE(dialog->fileManagerNote()->isHidden());
    EXPECT_EQ(shell.properties.size(), 2);

    // Closed before the answer: the answer finds no dialog and touches nothing.
    ask->click();
    delete dialog;
    QApplication::processEvents();
    EXPECT_EQ(shell.properties.size(), 3);
}

// A name that is not valid UTF-8 reaches its file through the bytes its text form keeps.
TEST_F(FileActionsTest, UndecodableNameIsDeletedThroughItsBytes)
{
    const QByteArray bytes = QFile::encodeName(dir.path()) + "/scan\xff.tif";
    const int fd = ::open(bytes.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    // The text form keeps the byte 0xFF as U+DCFF, as the search stores it.
    const QString text = dir.path() + "/scan" + QChar(char16_t(0xDCFF)) + ".tif";
    ResultRow row;
    row.FullPath = text;
    const int r = grid.AppendResultRow(row);
    grid.setIsSelected(r, true);
    FileActions raw(grid, nullptr, shell);
    EXPECT_TRUE(raw.DeleteSelectedFiles());
    EXPECT_EQ(::access(bytes.constData(), F_OK), -1);
    EXPECT_TRUE(grid.rowHidden(r));
}

// Open and Show Containing Folder hand the desktop a URL of the file's exact bytes: two names
// that differ only in bytes that are not UTF-8 open their own files.
TEST_F(FileActionsTest, UndecodableNamesOpenTheirOwnFiles)
{
    QList<QUrl> urls;
    const std::unique_ptr<FileShell> desktop = makeSystemFileShell([&](const QUrl &url) {
        urls << url;
        return true;
    });
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray names[] = {folder + "/q\xff.pdf", folder + "/q\xfe.pdf"};
    for (const QByteArray &name : names) {
        urls.clear();
        ASSERT_TRUE(desktop->openPath(name));
        ASSERT_EQ(urls.size(), 1);
        EXPECT_TRUE(urls[0].isValid());
        EXPECT_EQ(QByteArray::fromPercentEncoding(urls[0].toEncoded(QUrl::RemoveScheme)), "//" + name);
    }

    // Through the grid's text form, as Open uses it.
    FileActions actions(grid, nullptr, *desktop);
    for (const QByteArray &name : names) {
        urls.clear();
        EXPECT_TRUE(actions.OpenWithShell(platform::pathToText(name)));
        ASSERT_EQ(urls.size(), 1);
        EXPECT_EQ(QByteArray::fromPercentEncoding(urls[0].toEncoded(QUrl::RemoveScheme)), "//" + name);
    }
    EXPECT_EQ(fileUriFromBytes(folder + "/a b%\xff"), "file://" + QString::fromLatin1(folder.toPercentEncoding("/")) + "/a%20b%25%FF");
}

}  // namespace
