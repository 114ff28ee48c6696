#include "SelectionTotals.h"

#include "FileNames.h"
#include "FlexGridModel.h"
#include "ResultGrid.h"

#include <QItemSelectionModel>
#include <QTableView>

#include <algorithm>
#include <vector>

SelectionTotals::SelectionTotals(ResultGrid &grid, QObject *parent) : QObject(parent), m_grid(grid)
{
    QTableView *view = grid.view();
    FlexGridModel *model = grid.model();
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                apply(deselected, -1);
                apply(selected, +1);
                announce();
            });
    // A selected row deleted leaves the totals; shown again, it comes back.
    connect(model, &FlexGridModel::rowHiddenChanged, this, [this](int gridRow, bool hidden) {
        if (m_grid.isSelected(gridRow)) {
            add(gridRow, hidden ? -1 : +1);
            announce();
        }
    });
    const auto recountNow = [this] { recount(); };
    connect(model, &QAbstractItemModel::rowsRemoved, this, recountNow);
    connect(model, &QAbstractItemModel::modelReset, this, recountNow);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                const bool nameOrPages = (topLeft.column() <= ColFileName && bottomRight.column() >= ColFileName)
                                         || (topLeft.column() <= ColPages && bottomRight.column() >= ColPages);
                if (m_rows > 0 && nameOrPages)
                    recount();
            });
}

QString SelectionTotals::text(int rows, qint64 tiffPages, qint64 pdfPages)
{
    if (rows < 2)
        return QString();
    return QStringLiteral("%1 selected \u2013 TIFF %2 PDF %3 pages").arg(rows).arg(tiffPages).arg(pdfPages);
}

void SelectionTotals::add(int gridRow, int sign)
{
    // A bulk change (Select All, Invert) passes every row through here: the facts are read as
    // they are kept.
    m_rows += sign;
    const ResultGrid::PageFacts facts = m_grid.pageFacts(gridRow);
    if (facts.pages < 0)
        return;  // "Error", or not counted
    switch (facts.type) {
    case platform::PageFileType::Tiff: m_tiff += sign * facts.pages; break;
    case platform::PageFileType::Pdf: m_pdf += sign * facts.pages; break;
    case platform::PageFileType::Other: break;
    }
}

void SelectionTotals::apply(const QItemSelection &selection, int sign)
{
    // A whole-row selection can arrive as several ranges over the same rows (one per column
    // block); each row counts once.
    std::vector<std::pair<int, int>> spans;
    spans.reserve(size_t(selection.size()));
    for (const QItemSelectionRange &range : selection)
        if (range.isValid())
            spans.emplace_back(range.top(), range.bottom());
    std::sort(spans.begin(), spans.end());
    const FlexGridModel *model = m_grid.model();
    const int fixed = m_grid.fixedRows();
    int next = 0;  // first model row not yet counted
    for (const auto &[top, bottom] : spans) {
        for (int r = std::max(top, next); r <= bottom; ++r)
            if (!model->rowHidden(r + fixed))
                add(r + fixed, sign);
        next = std::max(next, bottom + 1);
    }
}

void SelectionTotals::recount()
{
    m_rows = 0;
    m_tiff = 0;
    m_pdf = 0;
    for (const auto &[first, last] : m_grid.selectedRowSpans()) {
        for (int row = first; row <= last; ++row)
            if (row > 0 && !m_grid.rowHidden(row))
                add(row, +1);
    }
    announce();
}

void SelectionTotals::announce()
{
    emit changed();
}
