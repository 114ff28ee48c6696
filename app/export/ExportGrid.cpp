#include "ExportGrid.h"

#include "AppSettings.h"
#include "CheckedWrite.h"
#include "FlexGrid.h"
#include "MessageBoxes.h"
#include "dlgSave.h"

#include <QDir>

ExportChoice AskExportDestination(QWidget *parent, const QString &exportLocation)
{
    dlgSave dialog(exportLocation, parent);
    dialog.exec();
    ExportChoice choice;
    choice.fileName = dialog.FileName();
    // Anything but a completed Save (Cancel, Esc, the close button) is a cancellation.
    choice.cancelled = choice.fileName.isEmpty() || choice.fileName == dlgSave::cancelledText();
    choice.columnSeparator = dialog.ColumnSaperator();
    return choice;
}

QString DelimitedLine(const QStringList &cells, QChar separator)
{
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line += separator;
        const QString &cell = cells[i];
        const bool quote = cell.contains(separator) || cell.contains(QLatin1Char('"'))
                           || cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\n'));
        if (!quote) {
            line += cell;
            continue;
        }
        QString escaped = cell;
        escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        line += QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    return line;
}

bool WriteGridText(const FlexGrid &grid, const QString &path, QChar separator, QString *error)
{
    QList<int> columns;
    for (int c = 0; c < grid.cols(); ++c)
        if (!grid.colHidden(c))
            columns << c;

    QByteArray bytes;
    QStringList cells;
    for (int r = 0; r < grid.rows(); ++r) {
        if (r >= grid.fixedRows() && grid.rowHidden(r))
            continue;  // files deleted from the list are gone; don't export them
        cells.clear();
        for (int c : columns)
            cells << grid.textMatrix(r, c);
        bytes += (DelimitedLine(cells, separator) + QStringLiteral("\r\n")).toUtf8();
    }
    // The default name is predictable: a link planted there must not redirect the export.
    return platform::writeFileChecked(path, bytes, error, platform::SymlinkTarget::Refuse);
}

void ExportGrid(const FlexGrid &grid, QWidget *parent, const ExportDestinationAsker &ask)
{
    const ExportChoice choice = ask ? ask(parent) : AskExportDestination(parent, modGlobal::AppSettings.ExportLocation);
    if (choice.cancelled)
        return;

    const QChar separator = choice.columnSeparator.isEmpty() ? QChar(u'\t') : choice.columnSeparator.at(0);
    QString error;
    if (!WriteGridText(grid, choice.fileName, separator, &error)) {
        platform::MessageBoxes::message(parent, QStringLiteral("Unable to export data.\r\n\r\n") + error);
        return;
    }
    platform::MessageBoxes::message(parent, QStringLiteral("Meta Data exported successfully to ")
                                                + QDir::toNativeSeparators(choice.fileName));
}

void ExportButtonClicked(const FlexGrid &grid, QWidget *parent, const ExportDestinationAsker &ask)
{
    // Rows hidden by Delete still count here: they are rows of the list until the next search.
    if (grid.rows() <= 1) {
        platform::MessageBoxes::message(parent, QStringLiteral("No files found to export."));
        return;
    }
    ExportGrid(grid, parent, ask);
}
