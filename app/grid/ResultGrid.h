#pragma once
// The result grid vsFiles: one row per listed file, seven fixed columns, header-click sorting with
// its arrows, the look taken from the settings record, and the selection commands. The main window
// only wires its signals to the popup menu and the delete command.

#include "FlexGrid.h"
#include "ResultRows.h"

#include <QDateTime>
#include <QPixmap>
#include <QString>

namespace modGlobal {
struct SettingsRecord;
}

// Columns 0 .. 4 are the ones the user sees and may hide.
constexpr int kResultDataColumns = 5;

// One data row as texts: the seven cell texts in column order plus the icon of the file-name
// cell. Listed files are kept as values (AppendFile); this is the row of the text contract.
struct ResultRow {
    QString FileName;
    QString Location;
    QString Size;          // SizeKb followed by " KB"; built from SizeKb when left empty
    QString ModifiedDate;  // ResultGrid::modifiedDateText()
    QString Pages;         // page count, "Error", or empty when not counted
    QString PagesReason;   // why the count failed, in words (search::pageResultReason); else empty
    QString FullPath;
    QString SizeKb;        // ResultGrid::sizeKbText()
    QPixmap Icon;
};

class ColumnFitter;
class QMimeData;

class ResultGrid : public FlexGrid
{
    Q_OBJECT

public:
    explicit ResultGrid(QWidget *parent = nullptr);  // objectName "vsFiles"

    // The one-time column set-up: shape, headers, widths, alignments, types, hidden columns 5
    // and 6, then the column visibility of the settings record.
    void SetUpResultGrid(const modGlobal::SettingsRecord &settings);
    // The look at start-up, before SetUpResultGrid: picture, colours, lines (no visibility).
    void ApplyStartupAppearance(const modGlobal::SettingsRecord &settings);
    // Re-applies picture, lines, colours and the visibility of columns 0..4. Rows, texts, widths,
    // sort state and selection stay as they are.
    void RefreshGrid(const modGlobal::SettingsRecord &settings);

    // Sorts as a click on the header does (ascending 1, descending 2): rows, arrow and the order
    // the next click takes.
    void SortBy(int col, int order);
    // Sorts again by the last sort's column and direction (nothing before any sort).
    void SortAgain();
    // True while the header shows a sort arrow: the rows are in its order.
    bool sortArrowShown() const { return m_arrowShown; }

    void SelectAll();        // every data row selected
    void InvertSelection();  // every data row toggles (hidden rows too)
    // The selected data rows still listed (not deleted), in selection order.
    QList<int> selectedListedRows() const;

    // Appends one listed file, kept as its facts, and returns its row number. Its texts are made
    // when asked for; the Pages cell's tooltip says why a count failed.
    int AppendFile(const search::CountedFile &file, const QPixmap &icon);
    // The texts a listed file's row shows (without its icon).
    static ResultRow rowTexts(const search::CountedFile &file);
    // Appends one row of texts (cells 0, 1, 6, 2, 3, 5, 4, then the icon) and returns its row
    // number. PagesReason becomes the Pages cell's tooltip.
    int AppendResultRow(const ResultRow &row);

    // The facts of a data row. A row written as text gives what its texts say.
    QByteArray filePath(int row) const;  // exact bytes; empty when the row has none
    struct PageFacts {
        search::FileType type = search::FileType::Other;
        qint64 pages = -1;  // -1: no page count (failed, or not counted); type may then be Other
    };
    PageFacts pageFacts(int row) const;
    // The Pages text with the reason it failed, as Properties shows it.
    QString pagesWithReason(int row) const;

    // Heap bytes of the rows (for the benchmark).
    size_t storageBytes() const;
    // Removes every data row; the header, its arrow and the column settings stay.
    void ClearRows();

    // Cell texts as the search writes them. sizeKbText: digit groups of the user's locale, at
    // least one digit ("1,025"); modifiedDateText: "MM/dd/yyyy hh:mm AP" with the locale's
    // separators and AM/PM texts.
    static QString sizeKbText(qint64 kilobytes) { return ResultRows::sizeKbText(kilobytes); }
    static QString sizeText(const QString &sizeKb) { return ResultRows::sizeText(sizeKb); }
    static QString modifiedDateText(const QDateTime &time) { return ResultRows::modifiedDateText(time); }
    static QString modifiedDateFormat() { return ResultRows::modifiedDateFormat(); }

    // The header arrows: 11 x 4, a blue triangle on a pale background.
    static QPixmap sortArrow(bool ascending);
    // The Pages text with the reason it failed, when there is one: "Error (Needs a password)".
    static QString pagesWithReason(const QString &pages, const QString &reason);

    // File Name and Location take the width the other columns leave; none drops below what its
    // header (with the sort arrow) and its usual content need.
    ColumnFitter &columnFitter() const { return *m_fitter; }

    // What dragging rows out carries: "text/uri-list", one file URL per row.
    static QString uriListType();
    QMimeData *fileUriList(const QList<int> &gridRows) const;

signals:
    // Right button over a data row, or the context-menu key: open the grid's popup menu at this
    // global position.
    void popupRequested(QPoint globalPos);
    // The Delete key: run the delete command on the selected rows.
    void deleteRequested();
    // Enter: open the current row's file.
    void openRequested();
    // Ctrl+C: copy the selected rows.
    void copyRequested();
    // Right button on the header: offer the columns to show or hide, at this global position.
    void headerMenuRequested(QPoint globalPos);

private:
    void applyLook(const modGlobal::SettingsRecord &settings, bool removeMissingPicture);
    void applyColumnVisibility(const modGlobal::SettingsRecord &settings);
    void onAfterSort(int col, int order);
    // True when no row was written as text (loaded or set cell by cell).
    bool allRowsKeptAsValues() const;
    void onKeyDown(int keyCode, Qt::KeyboardModifiers modifiers, bool *handled);
    void onMouseDown(int button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void setMinimumColumnWidths();
    void removeSortArrow();

    ColumnFitter *m_fitter;
    bool m_arrowShown = false;
    ResultRows m_values;
};
