#include "FileIcons.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>

#include <cmath>

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

FileIcons::FileIcons(std::shared_ptr<FileIconLookup> lookup, qreal devicePixelRatio)
    : m_lookup(std::move(lookup)), m_dpr(devicePixelRatio)
{
    if (m_dpr <= 0)
        m_dpr = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? qApp->devicePixelRatio() : 1.0;
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

QPixmap FileIcons::genericFileIcon(qreal devicePixelRatio)
{
    static QHash<int, QPixmap> byRatio;  // one per ratio, in hundredths
    const int key = int(std::lround(devicePixelRatio * 100));
    if (auto it = byRatio.constFind(key); it != byRatio.constEnd())
        return it.value();
    const QPixmap generic = [devicePixelRatio] {
        QIcon icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
        if (icon.isNull() && qobject_cast<QApplication *>(QCoreApplication::instance()))
            icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
        QPixmap pm = icon.isNull() ? QPixmap() : icon.pixmap(QSize(IconSize, IconSize), devicePixelRatio);
        if (pm.isNull()) {
            // A plain sheet with a folded corner when the desktop offers nothing.
            pm = QPixmap(QSize(IconSize, IconSize) * devicePixelRatio);
            pm.setDevicePixelRatio(devicePixelRatio);
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
    byRatio.insert(key, generic);
    return generic;
}

QPixmap FileIcons::DrawFileIcon(const QString &fullPath)
{
    const QString ext = extensionOf(fullPath).toLower();
    if (ext.isEmpty())
        return genericFileIcon(m_dpr);
    auto it = m_cache.constFind(ext);
    if (it != m_cache.constEnd())
        return it.value();
    const QIcon icon = m_lookup->iconForExtension(ext);
    QPixmap pm = icon.isNull() ? QPixmap() : icon.pixmap(QSize(IconSize, IconSize), m_dpr);
    if (pm.isNull())
        pm = genericFileIcon(m_dpr);
    m_cache.insert(ext, pm);
    return pm;
}
