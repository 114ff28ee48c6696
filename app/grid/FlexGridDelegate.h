#pragma once
// Paints the grid's cells: colours, pictures, check boxes, elided text and the line style.

#include <QStyledItemDelegate>

class FlexGrid;

class FlexGridDelegate : public QStyledItemDelegate
{
public:
    explicit FlexGridDelegate(FlexGrid *grid);

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    FlexGrid *m_grid;
};
