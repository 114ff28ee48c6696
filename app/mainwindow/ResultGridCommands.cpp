#include "ResultGridCommands.h"

#include "AppSettings.h"
#include "ExportGrid.h"
#include "ResultGrid.h"
#include "SettingsFile.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

ResultGridCommands::ResultGridCommands(ResultGrid &grid, std::function<void()> refreshGrid, QWidget *window)
    : QObject(window), m_grid(grid), m_refreshGrid(std::move(refreshGrid)), m_window(window)
{
}

void ResultGridCommands::copySelectedRows()
{
    const QList<int> rows = m_grid.selectedListedRows();
    if (rows.isEmpty())
        return;
    QList<int> columns;
    for (int c = 0; c < m_grid.cols(); ++c)
        if (!m_grid.colHidden(c))
            columns << c;
    QString text;
    QStringList cells;
    for (int row : rows) {
        cells.clear();
        for (int c : columns)
            cells << m_grid.textMatrix(row, c);
        text += DelimitedLine(cells, QLatin1Char('\t')) + QLatin1Char('\n');
    }
    QMimeData *data = m_grid.fileUriList(rows);
    if (!data)
        data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data);
}

void ResultGridCommands::showColumnMenu(QPoint globalPos)
{
    if (!m_columnMenu) {
        m_columnMenu = new QMenu(m_window);
        m_columnMenu->setObjectName(QStringLiteral("mnuColumns"));
    }
    QMenu *menu = m_columnMenu;
    menu->clear();
    int shown = 0;
    for (int c = 0; c < kResultDataColumns; ++c)
        shown += m_grid.colHidden(c) ? 0 : 1;
    for (int c = 0; c < kResultDataColumns; ++c) {
        QAction *action = menu->addAction(m_grid.textMatrix(0, c));
        action->setCheckable(true);
        action->setChecked(!m_grid.colHidden(c));
        // The last column shown stays: a grid without columns would offer nothing to click.
        action->setEnabled(m_grid.colHidden(c) || shown > 1);
        connect(action, &QAction::toggled, this, [this, c](bool show) {
            // Written as Preferences writes it, so the dialog and the next start agree.
            QStringList &visibility = modGlobal::AppSettings.ColumnVisibility;
            visibility.clear();
            for (int k = 0; k < kResultDataColumns; ++k)
                visibility << ((k == c ? show : !m_grid.colHidden(k)) ? QStringLiteral("1") : QStringLiteral("0"));
            m_refreshGrid();
            modGlobal::SaveSettings(m_window);
        });
    }
    menu->popup(globalPos);
}
