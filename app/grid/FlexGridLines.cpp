#include "FlexGridLines.h"

#include "FlexGridEnums.h"

#include <QPainter>

namespace flexgridlines {

LineLook lineLook(int code)
{
    switch (code) {
    case FlexGridEnums::GridNone:
    case FlexGridEnums::GridExplorer: return {LineKind::None, false, false};
    case FlexGridEnums::GridFlat: return {LineKind::Flat, true, true};
    case FlexGridEnums::GridInset: return {LineKind::Inset, true, true};
    case FlexGridEnums::GridRaised: return {LineKind::Raised, true, true};
    case FlexGridEnums::GridFlatHorz: return {LineKind::Flat, true, false};
    case FlexGridEnums::GridInsetHorz: return {LineKind::Inset, true, false};
    case FlexGridEnums::GridRaisedHorz: return {LineKind::Raised, true, false};
    case FlexGridEnums::GridFlatVert: return {LineKind::Flat, false, true};
    case FlexGridEnums::GridInsetVert: return {LineKind::Inset, false, true};
    case FlexGridEnums::GridRaisedVert: return {LineKind::Raised, false, true};
    case FlexGridEnums::GridExcel: return {LineKind::Excel, true, true};
    default: return {LineKind::Flat, true, true};
    }
}

QColor blend(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t), float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}

namespace {

// The two halves of a 3-D line: the line colour itself as the lit edge and a shadow derived from
// it, so that the pair stays visible on a white background and any colour the user picks still
// reads as sunken or raised.
QColor shadowOf(const QColor &c) { return blend(c, Qt::black, 0.45); }
QColor lightOf(const QColor &c) { return c; }

const QColor excelLine(212, 212, 212);

}  // namespace

void drawCellLines(QPainter *p, const QRect &r, const LineLook &look, const QColor &gridColor)
{
    switch (look.kind) {
    case LineKind::None: return;
    case LineKind::Flat:
    case LineKind::Excel: {
        p->setPen(look.kind == LineKind::Excel ? excelLine : gridColor);
        if (look.horz)
            p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        if (look.vert)
            p->drawLine(r.right(), r.top(), r.right(), r.bottom());
        return;
    }
    case LineKind::Inset:
    case LineKind::Raised: {
        const QColor dark = shadowOf(gridColor);
        const QColor light = lightOf(gridColor);
        const QColor topLeft = look.kind == LineKind::Inset ? dark : light;
        const QColor bottomRight = look.kind == LineKind::Inset ? light : dark;
        if (look.horz) {
            p->setPen(topLeft);
            p->drawLine(r.left(), r.top(), r.right(), r.top());
            p->setPen(bottomRight);
            p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        }
        if (look.vert) {
            p->setPen(topLeft);
            p->drawLine(r.left(), r.top(), r.left(), r.bottom());
            p->setPen(bottomRight);
            p->drawLine(r.right(), r.top(), r.right(), r.bottom());
        }
        return;
    }
    }
}

QSize logicalSize(const QPixmap &pm)
{
    return (QSizeF(pm.size()) / pm.devicePixelRatio()).toSize();
}

}  // namespace flexgridlines
