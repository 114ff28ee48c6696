#pragma once
// Lets the user drop a folder on the main window to search it, or a file to search its folder.
// Watches the window's drag and drop events; a drag whose first entry is an existing local folder
// or file is accepted, anything else is refused.

#include <QObject>
#include <QString>

class QMimeData;
class QWidget;

class FolderDropTarget : public QObject
{
    Q_OBJECT
public:
    explicit FolderDropTarget(QWidget &window);

    // The folder a drop of data would search (a file's own folder), in the lossless text form of
    // its bytes; empty when it carries no existing local folder or file.
    static QString folderOf(const QMimeData *data);

signals:
    void folderDropped(const QString &folder);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
