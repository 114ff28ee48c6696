#include "FileIcons.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>

QIcon DesktopFileIconLookup::iconForExtension(const QString &extension)
{
    static const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForFile(QStringLiteral("file.") + extension, QMimeDatabase::MatchExtension);
    if (!mime.isValid() || mime.isDefault())
        return {};
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mime.genericIconName());
    return icon;
}

FileIcons::FileIcons(std::shared_ptr<FileIconLookup> lookup) : m_lookup(std::move(lookup))
{
    if (!m_lookup)
        m_lookup = std::make_shared<DesktopFileIconLookup>();
}

QString FileIcons::extensionOf(const QString &fileName)
{
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0 || dot < slash)
        return {};
    return fileName.mid(dot + 1);
}

QPixmap FileIcons::genericFileIcon()
{
    static const QPixmap generic = [] {
        QIcon icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
        if (icon.isNull() && qobject_cast<QApplication *>(QCoreApplication::instance()))
            icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
        QPixmap pm = icon.isNull() ? QPixmap() : icon.pixmap(IconSize, IconSize);
        if (pm.isNull()) {
            // A plain sheet with a folded corner when the desktop offers nothing.
            pm = QPixmap(IconSize, IconSize);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setPen(QColor(110, 110, 110));
            p.setBrush(Qt::white);
            const QPoint sheet[] = {{2, 0}, {10, 0}, {14, 4}, {14, 15}, {2, 15}};
            p.drawPolygon(sheet, 5);
            p.drawLine(10, 0, 10, 4);
            p.drawLine(10, 4, 14, 4);
        }
        return pm;
    }();
    return generic;
}

QPixmap FileIcons::DrawFileIcon(const QString &fullPath)
{
    const QString ext = extensionOf(fullPath).toLower();
    if (ext.isEmpty())
        return genericFileIcon();
    auto it = m_cache.constFind(ext);
    if (it != m_cache.constEnd())
        return it.value();
    const QIcon icon = m_lookup->iconForExtension(ext);
    QPixmap pm = icon.isNull() ? QPixmap() : icon.pixmap(IconSize, IconSize);
    if (pm.isNull())
        pm = genericFileIcon();
    m_cache.insert(ext, pm);
    return pm;
}
