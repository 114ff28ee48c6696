#pragma once
// Keeps a grid's visible columns filling its width. The stretching columns share whatever width
// the others leave, in proportion to their current widths and not below their minimum while there
// is room; the other columns keep their widths (the user may still drag any column) but never
// drop below their minimum, so a number column is not clipped. When even the minimums do not fit,
// the stretching columns give way first, down to a floor, and only then does the grid scroll.
// Runs when the grid's visible width changes and when asked to.

#include <QList>
#include <QObject>

#include <map>

class FlexGrid;

class ColumnFitter : public QObject
{
    Q_OBJECT
public:
    ColumnFitter(FlexGrid &grid, QList<int> stretchColumns);

    void setMinimumWidth(int col, int pixels);
    int minimumWidth(int col) const;
    // The narrowest a stretching column gets when space is short.
    static constexpr int kStretchFloor = 40;
    // Fits the columns to the grid's visible width now.
    void fit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FlexGrid &m_grid;
    QList<int> m_stretch;
    std::map<int, int> m_minimum;
    bool m_fitting = false;
};
