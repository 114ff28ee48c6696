#pragma once
// How the grid draws its lines and pictures: shared by the cell delegate and the header.

#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QSize>

class QPainter;

namespace flexgridlines {

// How a line-style code is drawn. Unknown codes (7, 11, 14 and up) draw as flat lines in both
// directions, the style a new settings file starts with.
enum class LineKind { None, Flat, Inset, Raised, Excel };
struct LineLook {
    LineKind kind = LineKind::Flat;
    bool horz = true;
    bool vert = true;
};

LineLook lineLook(int code);
QColor blend(const QColor &a, const QColor &b, qreal t);
// Draws a cell's share of the grid lines inside its own rectangle: flat lines on the bottom and
// right edge; 3-D lines as a sunken (dark top/left, light bottom/right) or raised (light top/left,
// dark bottom/right) frame, so neighbouring cells form a two-pixel groove or ridge.
void drawCellLines(QPainter *p, const QRect &r, const LineLook &look, const QColor &gridColor);
// A picture's size in logical pixels.
QSize logicalSize(const QPixmap &pm);

}  // namespace flexgridlines
