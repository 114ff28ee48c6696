#pragma once
// The grid's header row: drawn in the grid's line style, with the header cells' pictures, and
// reporting presses as the grid's mouseDown.

#include <QHeaderView>

class FlexGrid;

class FlexGridHeader : public QHeaderView
{
public:
    explicit FlexGridHeader(FlexGrid *grid);

protected:
    void paintSection(QPainter *p, const QRect &rect, int logical) const override;
    void mousePressEvent(QMouseEvent *e) override;

private:
    FlexGrid *m_grid;
};
