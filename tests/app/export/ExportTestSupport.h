#pragma once
// A result-shaped grid to export (the QApplication comes from the grid tests' support).

#include "FlexGrid.h"
#include "GuiTestEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

namespace exporttest {

// Header row plus the given data rows, seven columns with 5 and 6 hidden, as the result grid has.
inline void fillResultGrid(FlexGrid &grid, const QList<QStringList> &rows)
{
    grid.setFixedRows(1);
    grid.setCols(7);
    grid.setRows(1);
    const QStringList headers = {"File Name", "Location", "Size", "Modified Date", "Pages", "", ""};
    for (int c = 0; c < 7; ++c)
        grid.setTextMatrix(0, c, headers[c]);
    grid.setColHidden(5, true);
    grid.setColHidden(6, true);
    for (const QStringList &row : rows)
        grid.appendRow(row);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

}  // namespace exporttest
