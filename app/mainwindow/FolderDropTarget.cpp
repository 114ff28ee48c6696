#include "FolderDropTarget.h"

#include "FileNames.h"

#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <sys/stat.h>

FolderDropTarget::FolderDropTarget(QWidget &window) : QObject(&window)
{
    window.setAcceptDrops(true);
    window.installEventFilter(this);
}

QString FolderDropTarget::folderOf(const QMimeData *data)
{
    if (!data || !data->hasFormat(QStringLiteral("text/uri-list")))
        return QString();
    // The list's own bytes: QUrl would replace the bytes of a name that is not UTF-8.
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QByteArray rest;
        if (line.startsWith("file:///"))
            rest = line.mid(7);
        else if (line.startsWith("file://localhost/"))
            rest = line.mid(16);
        else
            return QString();  // the first entry is no local file
        QByteArray path = QByteArray::fromPercentEncoding(rest);
        struct stat st {};
        if (::stat(path.constData(), &st) != 0)
            return QString();
        if (!S_ISDIR(st.st_mode)) {
            // A file: its folder is searched, as when it is named on the command line.
            while (path.size() > 1 && path.endsWith('/'))
                path.chop(1);
            const qsizetype slash = path.lastIndexOf('/');
            path = slash <= 0 ? QByteArray("/") : path.left(slash);
        }
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
