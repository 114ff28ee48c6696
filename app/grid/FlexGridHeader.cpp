#include "FlexGridHeader.h"

#include "FlexGrid.h"
#include "FlexGridLines.h"
#include "FlexGridModel.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

using namespace flexgridlines;

FlexGridHeader::FlexGridHeader(FlexGrid *grid) : QHeaderView(Qt::Horizontal, grid), m_grid(grid) {}

void FlexGridHeader::paintSection(QPainter *p, const QRect &rect, int logical) const
{
    if (!rect.isValid())
        return;
    const FlexGridModel *m = m_grid->m_model;
    const int headerRow = m->fixedRows() - 1;
    QStyleOptionHeader opt;
    initStyleOptionForIndex(&opt, logical);
    opt.rect = rect;
    opt.icon = QIcon();
    opt.sortIndicator = QStyleOptionHeader::None;
    const int code = m_grid->m_gridLines;
    p->save();
    if (code == FlexGrid::GridExcel) {
        QLinearGradient shade(rect.topLeft(), rect.bottomLeft());
        shade.setColorAt(0, QColor(248, 248, 248));
        shade.setColorAt(1, QColor(228, 228, 228));
        p->fillRect(rect, shade);
        p->setPen(QColor(190, 190, 190));
        p->drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
        p->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    } else if (code == FlexGrid::GridExplorer) {
        p->fillRect(rect, m_grid->m_backColor);
        p->setPen(blend(m_grid->m_backColor, m_grid->m_foreColor, 0.15));
        p->drawLine(rect.right(), rect.top() + 4, rect.right(), rect.bottom() - 4);
        p->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
        opt.palette.setColor(QPalette::ButtonText, blend(m_grid->m_foreColor, m_grid->m_backColor, 0.25));
    } else {
        style()->drawControl(QStyle::CE_HeaderSection, &opt, p, this);
    }

    QRect label = rect.adjusted(4, 0, -4, 0);
    const QPixmap pic = headerRow >= 0 ? m->picture(headerRow, logical) : QPixmap();
    if (!pic.isNull()) {
        Qt::Alignment pa = m->pictureAlignment(headerRow, logical);
        if (!(pa & Qt::AlignVertical_Mask))
            pa |= Qt::AlignVCenter;
        const QRect picRect = QStyle::alignedRect(Qt::LeftToRight, pa, logicalSize(pic), label);
        p->drawPixmap(picRect, pic);
        if (pa & Qt::AlignRight)
            label.setRight(picRect.left() - 3);
        else if (!(pa & Qt::AlignHCenter))
            label.setLeft(picRect.right() + 4);
    }
    opt.rect = label;
    if (!opt.text.isEmpty() && label.width() > 0) {
        opt.text = opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, label.width());
        style()->drawControl(QStyle::CE_HeaderLabel, &opt, p, this);
    }
    p->restore();
}

void FlexGridHeader::mousePressEvent(QMouseEvent *e)
{
    const int col = logicalIndexAt(e->position().toPoint());
    m_grid->updateMousePosition(m_grid->fixedRows() > 0 ? 0 : -1, col);
    emit m_grid->mouseDown(e->button() == Qt::LeftButton    ? 1
                           : e->button() == Qt::RightButton ? 2
                           : e->button() == Qt::MiddleButton ? 4
                                                              : 0,
                           e->modifiers(), mapTo(m_grid, e->position().toPoint()));
    QHeaderView::mousePressEvent(e);
}
