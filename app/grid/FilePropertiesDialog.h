#pragma once
// Our own properties window for a listed file, shown when no file manager offers one: name,
// folder, size, type, pages, the three timestamps and the permissions.

#include <QByteArray>
#include <QDialog>

class FilePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // path is the file system's bytes; shownPath the same path as text for display; pages the
    // page-count text the grid shows for the file (may be empty).
    FilePropertiesDialog(const QByteArray &path, const QString &shownPath, const QString &pages,
                         QWidget *parent = nullptr);

    // The value shown for a field ("Name", "Folder", "Size", "Type", "Pages", "Created",
    // "Modified", "Accessed", "Permissions"); empty for an unknown field.
    QString fieldText(const QString &field) const;
};
