#pragma once
// Our own properties window for a listed file: name, folder, size, type, pages (with the reason a
// count failed), the three timestamps and the permissions. A button asks the file manager for its
// own properties window of the file; the dialog stays usable while it answers.

#include <QByteArray>
#include <QDialog>

class FileShell;
class QLabel;
class QPushButton;

class FilePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // path is the file system's bytes; shownPath the same path as text for display; pages the
    // page-count text the grid shows for the file (may be empty).
    // shell: where the file manager is asked; null leaves the button out.
    FilePropertiesDialog(const QByteArray &path, const QString &shownPath, const QString &pages,
                         QWidget *parent = nullptr, FileShell *shell = nullptr);

    // The value shown for a field ("Name", "Folder", "Size", "Type", "Pages", "Created",
    // "Modified", "Accessed", "Permissions"); empty for an unknown field.
    QString fieldText(const QString &field) const;

    // The button that asks the file manager (null without a shell), and the line under it that
    // says when none answered.
    QPushButton *fileManagerButton() const { return m_fileManager; }
    QLabel *fileManagerNote() const { return m_note; }

private:
    void askFileManager();

    QByteArray m_path;
    FileShell *m_shell = nullptr;
    QPushButton *m_fileManager = nullptr;
    QLabel *m_note = nullptr;
};
