#include "ExportGrid.h"

#include "AppSettings.h"
#include "CheckedWrite.h"
#include "DelimitedText.h"
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

namespace {

platform::DelimitedFormat exportFormat(QChar separator)
{
    platform::DelimitedFormat format;
    format.separator = QString(separator).toUtf8();
    format.lineEnd = "\r\n";
    // A file named "=HYPERLINK(...).pdf" must stay text when the export is opened in a spreadsheet.
    format.neutraliseFormulas = true;
    return format;
}

}  // namespace

QString DelimitedLine(const QStringList &cells, QChar separator)
{
    platform::DelimitedFormat format = exportFormat(separator);
    format.lineEnd.clear();
    return QString::fromUtf8(platform::DelimitedText::line(cells, format));
}

bool WriteGridText(const FlexGrid &grid, const QString &path, QChar separator, QString *error)
{
    QList<int> columns;
    for (int c = 0; c < grid.cols(); ++c)
        if (!grid.colHidden(c))
            columns << c;

    const platform::DelimitedFormat format = exportFormat(separator);
    QByteArray bytes;
    QStringList cells;
    for (int r = 0; r < grid.rows(); ++r) {
        if (r >= grid.fixedRows() && grid.rowHidden(r))
            continue;  // files deleted from the list are gone; don't export them
        cells.clear();
        for (int c : columns)
            cells << grid.textMatrix(r, c);
        bytes += platform::DelimitedText::line(cells, format);
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
