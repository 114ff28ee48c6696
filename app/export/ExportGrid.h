#pragma once
// Writing the result grid to a delimited text file, and the two commands that start it.

#include <QChar>
#include <QString>
#include <functional>

class FlexGrid;
class QWidget;

// What the user chose in the export dialog.
struct ExportChoice {
    bool cancelled = true;
    QString fileName;         // full path
    QString columnSeparator;  // empty: tab
};

// Asks for the destination; the default shows dlgSave starting at the export location.
using ExportDestinationAsker = std::function<ExportChoice(QWidget *parent)>;
ExportChoice AskExportDestination(QWidget *parent, const QString &exportLocation);

// One line of the export without its line end: the cells joined by the separator, a cell a
// spreadsheet would take for a formula led by an apostrophe, a cell holding the separator, a
// double quote, a carriage return or a line feed put in double quotes with its quotes doubled.
QString DelimitedLine(const QStringList &cells, QChar separator);

// Writes the header row and every data row not hidden, with the grid's visible columns in their
// order, lines ending in CR LF, as UTF-8. The file is replaced only when everything was written;
// a symbolic link at the path is refused and nothing is written. *error names path and reason.
bool WriteGridText(const FlexGrid &grid, const QString &path, QChar separator, QString *error);

// The export: asks for the destination, writes, and says how it went ("Meta Data exported
// successfully to ..." or "Unable to export data." with the reason). Cancelling says nothing.
// Without an asker, dlgSave opens at modGlobal::AppSettings.ExportLocation.
void ExportGrid(const FlexGrid &grid, QWidget *parent, const ExportDestinationAsker &ask = {});

// The Export button: a grid without data rows gives "No files found to export." instead.
void ExportButtonClicked(const FlexGrid &grid, QWidget *parent, const ExportDestinationAsker &ask = {});
