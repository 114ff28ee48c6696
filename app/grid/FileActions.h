#pragma once
// The commands on listed files: Open, Properties and Show Containing Folder act on the grid's
// current row; Delete acts on the selected rows. Each finds its file by the row's own path
// (its exact bytes).

#include <QByteArray>
#include <QString>

class FileShell;
class ResultGrid;
class QWidget;

class FileActions {
public:
    // grid is the result grid; parent owns the messages and the properties window.
    FileActions(ResultGrid &grid, QWidget *parent, FileShell &shell);

    // The menu commands. They do nothing without a current data row.
    void Open();
    void Properties();
    void ShowContainingFolder();
    // Asks "Are you sure to delete selected files?", deletes the selected files in order and hides
    // their rows; stops with "Unable to delete file <path>" at the first that fails. Rows hidden by
    // an earlier deletion are skipped. False only when a failure stopped it.
    bool DeleteSelectedFiles();

    // The shell requests, true when the desktop accepted them.
    bool OpenWithShell(const QString &path);
    // Our properties window of the file, with a button for the file manager's (pages is the
    // grid's page-count text for it, with the reason when the count failed). False, silently, for
    // a file that no longer exists.
    bool ShowFileProperties(const QString &path, const QString &pages = QString());
    // Asks the file manager to show the folder holding path with the file selected; when it
    // refuses or does not answer in time, the folder opens as a plain folder. Returns at once
    // (true: the request is on its way).
    bool OpenContainingFolder(const QString &path);

    // The folder part of a path: everything up to and including its last '/'; empty when there
    // is none.
    static QString ContainingFolder(const QString &path);

private:
    int currentDataRow() const;  // -1 when the cursor is not on a data row
    bool showProperties(const QByteArray &path, const QString &pages);
    bool openContainingFolder(const QByteArray &path);

    ResultGrid &m_grid;
    QWidget *m_parent;
    FileShell &m_shell;
};
