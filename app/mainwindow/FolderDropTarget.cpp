#include "FolderDropTarget.h"

#include "FileNames.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <sys/stat.h>

FolderDropTarget::FolderDropTarget(QWidget &window) : QObject(&window)
{
    window.setAcceptDrops(true);
    window.installEventFilter(this);
}

QString FolderDropTarget::folderOf(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        // The path's own bytes, so a folder whose name is not UTF-8 is still found.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        struct stat st {};
        if (path.isEmpty() || ::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return QString();
        return platform::pathToText(path);
    }
    return QString();
}

bool FolderDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (folderOf(drag->mimeData()).isEmpty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString folder = folderOf(drop->mimeData());
        if (folder.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        emit folderDropped(folder);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
