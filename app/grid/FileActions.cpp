#include "FileActions.h"

#include "FilePropertiesDialog.h"
#include "FileNames.h"
#include "FileShell.h"
#include "FlexGrid.h"
#include "MessageBoxes.h"
#include "ResultGrid.h"

#include <QFile>

#include <sys/stat.h>

// The full-path column holds the lossless text form of the file's bytes (see FileNames.h).
FileActions::FileActions(ResultGrid &grid, QWidget *parent, FileShell &shell)
    : m_grid(grid), m_parent(parent), m_shell(shell)
{
}

int FileActions::currentDataRow() const
{
    const int row = m_grid.row();
    return row > 0 && row < m_grid.rows() ? row : -1;
}

void FileActions::Open()
{
    if (const int row = currentDataRow(); row > 0)
        m_shell.openPath(m_grid.filePath(row));
}

void FileActions::Properties()
{
    if (const int row = currentDataRow(); row > 0)
        showProperties(m_grid.filePath(row), m_grid.pagesWithReason(row));
}

void FileActions::ShowContainingFolder()
{
    if (const int row = currentDataRow(); row > 0)
        openContainingFolder(m_grid.filePath(row));
}

bool FileActions::OpenWithShell(const QString &path)
{
    return m_shell.openPath(platform::pathFromText(path));
}

bool FileActions::ShowFileProperties(const QString &path, const QString &pages)
{
    return showProperties(platform::pathFromText(path), pages);
}

bool FileActions::showProperties(const QByteArray &bytes, const QString &pages)
{
    struct stat st {};
    if (bytes.isEmpty() || ::lstat(bytes.constData(), &st) != 0)
        return false;  // gone meanwhile: nothing to show, nothing to say
    // Our own window first: it says why a count failed, which no file manager knows; the file
    // manager's own window is a button away.
    auto *dialog = new FilePropertiesDialog(bytes, platform::pathToDisplay(bytes), pages, m_parent, &m_shell);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return true;
}

QString FileActions::ContainingFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

bool FileActions::OpenContainingFolder(const QString &path)
{
    return openContainingFolder(platform::pathFromText(path));
}

bool FileActions::openContainingFolder(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : file.left(slash + 1);
    // The shell outlives every window (it is the desktop's, or a test's that outlives the test).
    FileShell *shell = &m_shell;
    m_shell.showItemInFolder(file, nullptr, [shell, folder](bool accepted) {
        if (!accepted)
            shell->openPath(folder);
    });
    return true;
}

bool FileActions::DeleteSelectedFiles()
{
    // The rows are taken before anything changes; rows already deleted stay out.
    const QList<int> rows = m_grid.selectedListedRows();
    if (rows.isEmpty())
        return true;

    if (platform::MessageBoxes::message(m_parent, QStringLiteral("Are you sure to delete selected files?"),
                                        platform::MsgIcon::Question, platform::MsgButtons::YesNo)
        != platform::MsgResult::Yes)
        return true;

    for (int row : rows) {
        const QByteArray path = m_grid.filePath(row);
        QString error;
        if (!m_shell.deleteFile(path, &error)) {
            platform::MessageBoxes::message(m_parent, QStringLiteral("Unable to delete file ") + platform::pathToDisplay(path),
                                            platform::MsgIcon::None, platform::MsgButtons::Ok);
            return false;
        }
        m_grid.setRowHiddenFlag(row, true);
    }
    return true;
}
