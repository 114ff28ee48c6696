#include "AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon ApplicationIcon()
{
    // The resource lives in a static library: without this the linker drops it.
    Q_INIT_RESOURCE(AppIcon);
    // Rendered here rather than left to an icon-engine plugin that may not be installed.
    QSvgRenderer svg(QStringLiteral(":/quirewell/quirewell.svg"));
    QIcon icon;
    if (!svg.isValid())
        return icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pix(size, size);
        pix.fill(Qt::transparent);
        QPainter painter(&pix);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pix);
    }
    return icon;
}
