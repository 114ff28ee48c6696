#include "ColumnFitter.h"

#include "FlexGrid.h"

#include <QEvent>
#include <QTableView>

#include <algorithm>

ColumnFitter::ColumnFitter(FlexGrid &grid, QList<int> stretchColumns)
    : QObject(&grid), m_grid(grid), m_stretch(std::move(stretchColumns))
{
    grid.view()->viewport()->installEventFilter(this);
}

void ColumnFitter::setMinimumWidth(int col, int pixels)
{
    m_minimum[col] = std::max(0, pixels);
}

int ColumnFitter::minimumWidth(int col) const
{
    const auto it = m_minimum.find(col);
    return it == m_minimum.end() ? 0 : it->second;
}

bool ColumnFitter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched == m_grid.view()->viewport())
        fit();
    return QObject::eventFilter(watched, event);
}

void ColumnFitter::fit()
{
    if (m_fitting)
        return;
    m_fitting = true;
    QTableView *view = m_grid.view();
    const int available = view->viewport()->width();

    QList<int> stretch;
    int fixedWidth = 0;
    for (int c = 0; c < m_grid.cols(); ++c) {
        if (view->isColumnHidden(c))
            continue;
        if (m_stretch.contains(c)) {
            stretch << c;
            continue;
        }
        const int w = std::max(view->columnWidth(c), minimumWidth(c));
        if (w != view->columnWidth(c))
            view->setColumnWidth(c, w);
        fixedWidth += w;
    }

    // Spare width goes to the stretching columns by their current shares; one that would fall
    // below its minimum gets the minimum and the rest is shared again among the others. When the
    // minimums themselves do not fit, each gets its minimum's share of what there is.
    int spare = available - fixedWidth;
    std::map<int, int> widths;
    int minimumSum = 0;
    for (int c : stretch)
        minimumSum += minimumWidth(c);
    if (spare < minimumSum) {
        for (int c : stretch) {
            const int share = minimumSum > 0 ? int(qint64(std::max(0, spare)) * minimumWidth(c) / minimumSum) : 0;
            widths[c] = std::max(kStretchFloor, share);
        }
    } else {
        QList<int> open = stretch;
        bool settled = false;
        while (!settled && !open.isEmpty()) {
            settled = true;
            qint64 weightSum = 0;
            for (int c : open)
                weightSum += std::max(1, view->columnWidth(c));
            for (int c : open) {
                const int share = int(qint64(spare) * std::max(1, view->columnWidth(c)) / weightSum);
                if (share < minimumWidth(c)) {
                    widths[c] = minimumWidth(c);
                    spare -= minimumWidth(c);
                    open.removeOne(c);
                    settled = false;
                    break;
                }
            }
        }
        qint64 weightSum = 0;
        for (int c : open)
            weightSum += std::max(1, view->columnWidth(c));
        int given = 0;
        for (int i = 0; i < open.size(); ++i) {
            const int c = open[i];
            // The last one takes the rounding remainder, so the columns end at the edge exactly.
            const int share = i + 1 == open.size() ? spare - given
                                                   : int(qint64(spare) * std::max(1, view->columnWidth(c)) / weightSum);
            widths[c] = share;
            given += share;
        }
    }
    for (const auto &[c, w] : widths)
        if (view->columnWidth(c) != w)
            view->setColumnWidth(c, w);
    m_fitting = false;
}
