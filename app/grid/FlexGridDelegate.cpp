#include "FlexGridDelegate.h"

#include "FlexGrid.h"
#include "FlexGridLines.h"
#include "FlexGridModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>

using namespace flexgridlines;

FlexGridDelegate::FlexGridDelegate(FlexGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

void FlexGridDelegate::paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const FlexGrid *g = m_grid;
    const QRect r = option.rect;
    const bool fixed = index.data(FlexGridModel::FixedCellRole).toBool();
    const bool selected = (option.state & QStyle::State_Selected) && !fixed;
    const int code = g->m_gridLines;
    p->save();
    if (fixed)
        p->fillRect(r, code == FlexGrid::GridExcel ? QColor(238, 238, 238) : option.palette.color(QPalette::Button));
    else if (selected)
        p->fillRect(r, g->m_backColorSel);
    else if (g->m_backPicture.isNull())
        p->fillRect(r, g->m_backColor);

    QRect content = r.adjusted(3, 0, -3, 0);
    const Qt::Alignment align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());

    const QVariant picVar = index.data(Qt::DecorationRole);
    if (picVar.isValid()) {
        const QPixmap pic = picVar.value<QPixmap>();
        Qt::Alignment pa = Qt::Alignment(index.data(FlexGridModel::PictureAlignmentRole).toInt());
        if (!(pa & Qt::AlignVertical_Mask))
            pa |= Qt::AlignVCenter;
        const QRect picRect = QStyle::alignedRect(Qt::LeftToRight, pa, logicalSize(pic), content);
        p->drawPixmap(picRect, pic);
        if (pa & Qt::AlignRight)
            content.setRight(picRect.left() - 3);
        else if (!(pa & Qt::AlignHCenter))
            content.setLeft(picRect.right() + 4);
    }

    const int check = index.data(FlexGridModel::CellCheckRole).toInt();
    const bool booleanCol = g->colDataType(index.column()) == FlexGrid::TypeBoolean;
    if (check != FlexGrid::NoCheckbox) {
        QStyleOptionButton box;
        box.state = QStyle::State_Enabled;
        box.state |= check == FlexGrid::Checked ? QStyle::State_On
                     : check == FlexGrid::Grayed ? QStyle::State_NoChange
                                                 : QStyle::State_Off;
        const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        const int w = style->pixelMetric(QStyle::PM_IndicatorWidth, &box, option.widget);
        const int h = style->pixelMetric(QStyle::PM_IndicatorHeight, &box, option.widget);
        const Qt::Alignment boxAlign = booleanCol ? (align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter
                                                  : Qt::AlignLeft | Qt::AlignVCenter;
        box.rect = QStyle::alignedRect(Qt::LeftToRight, boxAlign, QSize(w, h), content);
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, p, option.widget);
        if (!booleanCol)
            content.setLeft(box.rect.right() + 4);
    }

    if (!booleanCol) {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty() && content.width() > 0) {
            p->setFont(option.font);
            p->setPen(fixed ? option.palette.color(QPalette::ButtonText)
                            : selected ? g->m_foreColorSel : g->m_foreColor);
            const QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, content.width());
            p->drawText(content, int(align ? align : Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextSingleLine, shown);
        }
    }

    drawCellLines(p, r, fixed && code != FlexGrid::GridExcel ? lineLook(FlexGrid::GridFlat) : lineLook(code),
                  fixed ? option.palette.color(QPalette::Mid) : g->m_gridColor);

    if ((option.state & QStyle::State_HasFocus) && g->view()->hasFocus()) {
        QPen pen(selected ? g->m_foreColorSel : g->m_foreColor);
        pen.setStyle(Qt::DotLine);
        p->setPen(pen);
        p->drawRect(r.adjusted(0, 0, -1, -1));
    }
    p->restore();
}

QSize FlexGridDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    return QSize(s.width() + 6, s.height());
}
