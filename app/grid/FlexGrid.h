#pragma once
// The program's grid control: a table widget with a header row, list-box row selection, typed
// header-click sorting, line styles, a wallpaper and delimited-text save/load.
//
// Numbering follows the control's own convention throughout this class: row 0 is the header row
// (when FixedRows is 1) and data rows are 1 .. rows() - 1; columns are 0 .. cols() - 1. The header
// row is shown as the view's horizontal header. Widths and heights are in twips.

#include "FlexGridEnums.h"

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

class FlexGridModel;
class QMimeData;
class FlexGridView;
class QTableView;

class FlexGrid : public QWidget, public FlexGridEnums
{
    Q_OBJECT

public:
    explicit FlexGrid(QWidget *parent = nullptr);
    ~FlexGrid() override;

    // ---- shape
    int rows() const;
    void setRows(int rows);          // rows includes the fixed rows; extra rows are appended empty
    int cols() const;
    void setCols(int cols);
    int fixedRows() const;
    void setFixedRows(int fixedRows);  // 0 or 1 (more is treated as 1)
    int fixedCols() const;
    void setFixedCols(int fixedCols);  // leading columns drawn like the header, never selected

    // ---- cells (out-of-range cells read as empty / no picture, writes to them are ignored)
    QString textMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, const QString &text);
    QPixmap cellPicture(int row, int col) const;
    void setCellPicture(int row, int col, const QPixmap &picture);  // null pixmap removes it
    Qt::Alignment cellPictureAlignment(int row, int col) const;
    void setCellPictureAlignment(int row, int col, Qt::Alignment alignment);
    Qt::Alignment cellAlignment(int row, int col) const;  // the column's unless set per cell
    void setCellAlignment(int row, int col, Qt::Alignment alignment);
    void setCellAlignment(int row1, int col1, int row2, int col2, Qt::Alignment alignment);
    void setCellPicture(int row1, int col1, int row2, int col2, const QPixmap &picture);
    CellCheck cellChecked(int row, int col) const;
    void setCellChecked(int row, int col, CellCheck state);
    // Shown when the pointer rests on the cell; it moves with its row when rows are sorted.
    QString cellToolTip(int row, int col) const;
    void setCellToolTip(int row, int col, const QString &text);

    // ---- columns
    int colWidth(int col) const;  // twips; the width also survives while the column is hidden
    void setColWidth(int col, int twips);
    Qt::Alignment colAlignment(int col) const;
    void setColAlignment(int col, Qt::Alignment alignment);
    ColumnType colDataType(int col) const;
    void setColDataType(int col, ColumnType type);
    bool colHidden(int col) const;
    void setColHidden(int col, bool hidden);
    // Moves column col (its cells and settings) so that it becomes column position.
    void setColPosition(int col, int position);
    ColSortSetting colSort(int col) const;
    void setColSort(int col, ColSortSetting setting);

    // ---- rows
    bool rowHidden(int row) const;
    void setRowHiddenFlag(int row, bool hidden);
    int rowHeightMin() const;  // twips
    void setRowHeightMin(int twips);

    // ---- selection and cursor
    SelectionMode selectionMode() const;
    void setSelectionMode(SelectionMode mode);
    int selectedRows() const;          // number of selected data rows
    int selectedRow(int index) const;  // index from 0, rows in ascending order; -1 when out of range
    // The selected data rows as ascending, disjoint [first, last] spans of grid rows.
    std::vector<std::pair<int, int>> selectedRowSpans() const;
    bool isSelected(int row) const;
    void setIsSelected(int row, bool selected);  // row -1 = every data row
    void invertRowSelection();                   // every data row toggles, hidden ones too
    int row() const;  // current row; fixedRows() - 1 (the header) when there is no current cell
    int col() const;  // current column; -1 when none
    void setRow(int row);
    void setCol(int col);
    // Sets the cursor to (row1, col1) and the range that sortSelection() works on. The list-box
    // selection is not changed.
    void select(int row1, int col1, int row2 = -1, int col2 = -1);
    // Sorts rows row1..row2 of the range set by select(), keyed by its columns from left to right,
    // each with its colSort() setting. Rows move whole; selection and cursor follow their rows.
    void sortSelection();
    // Sorts every data row by one column as a header click does (typed by colDataType()).
    void sortByColumn(int col, SortOrderCode order);

    // ---- editing
    bool editable() const;
    void setEditable(bool editable);  // when true, beforeEdit is asked before every edit

    // ---- look
    QColor foreColor() const;
    void setForeColor(const QColor &color);
    QColor backColor() const;
    void setBackColor(const QColor &color);
    QColor foreColorSel() const;
    void setForeColorSel(const QColor &color);
    QColor backColorSel() const;
    void setBackColorSel(const QColor &color);
    QColor gridColor() const;
    void setGridColor(const QColor &color);
    int gridLines() const;
    void setGridLines(int code);  // any code is kept and reported back; unknown codes draw as flat
    QPixmap backPicture() const;
    void setBackPicture(const QPixmap &picture);  // tiled behind the cells; null removes it

    // Date and time pattern (QDateTime style, "AP" = the locale's AM/PM texts) used to compare
    // cells of date columns.
    QString dateFormat() const;
    void setDateFormat(const QString &format);

    // ---- header-click sorting
    bool headerSorting() const;
    void setHeaderSorting(bool on);
    int sortedColumn() const;  // column of the last header sort, -1 before any
    int sortedOrder() const;   // SortedAscending or SortedDescending of that sort; 0 before any

    // ---- mouse position (valid during and after mouseDown)
    int mouseRow() const;  // -1 when not over a row (0 = header)
    int mouseCol() const;  // -1 when not over a column

    // ---- delimited text
    QString clipSeparators() const;  // column separator then row separator; empty = tab, CR
    void setClipSeparators(const QString &separators);
    // All cells, header row included. A cell holding a separator or a double quote is written in
    // double quotes (quotes doubled) so loadGrid() reads it back unchanged.
    bool saveGrid(const QString &path, QString *error = nullptr) const;
    // Replaces every row (header included) and sets the column count to the widest line.
    bool loadGrid(const QString &path, QString *error = nullptr);

    // Fast append used by fillers of many rows: one new last data row with these cell texts
    // (missing cells empty). Returns the new row's number.
    int appendRow(const QStringList &cells, const QPixmap &picture0 = QPixmap());
    // The same for a row kept as values by the model's store under id.
    int appendValueRow(uint32_t id, const QPixmap &picture0 = QPixmap());

    // Windows virtual-key code for a Qt key (what keyDown reports): Menu 93, Delete 46, Space 32,
    // Return 13, letters and digits as their upper-case characters, ...; 0 when it has none.
    static int virtualKeyCode(int qtKey);

    // Lets the user drag the selected rows out; provider makes what the drag carries from the
    // grid rows (visible ones only, ascending).
    void setRowDrag(std::function<QMimeData *(const QList<int> &gridRows)> provider, const QStringList &mimeTypes);

    QTableView *view() const;
    FlexGridModel *model() const;

signals:
    // After a header-click sort: column and SortedAscending/SortedDescending.
    void afterSort(int col, int order);
    // Before the grid's own handling of a key; set *handled to stop that handling.
    void keyDown(int keyCode, Qt::KeyboardModifiers modifiers, bool *handled);
    // Button 1 left, 2 right, 4 middle; pos in grid (widget) coordinates. Also raised for presses
    // on the header row (mouseRow() is 0 then).
    void mouseDown(int button, Qt::KeyboardModifiers modifiers, QPoint pos);
    // Before a cell is edited (text editor or check-box toggle); set *cancel to refuse.
    void beforeEdit(int row, int col, bool *cancel);
    void afterEdit(int row, int col);

private:
    friend class FlexGridView;
    friend class FlexGridDelegate;
    friend class FlexGridHeader;
    int toModelRow(int row) const;
    void applyRowHeight();
    void syncColumnsToView();
    void syncHiddenRowsToView();
    void headerClicked(int section);
    bool requestEdit(int row, int col);
    void toggleCheck(int row, int col);
    void updateMousePosition(int gridRow, int col);
    void selectionDirty() { m_selectionDirty = true; }
    void rebuildSelectionCache() const;
    void refreshLook();

    FlexGridModel *m_model = nullptr;
    FlexGridView *m_view = nullptr;
    SelectionMode m_selectionMode = SelectionFree;
    bool m_editable = false;
    bool m_headerSorting = false;
    bool m_syncingColumns = false;
    int m_sortedColumn = -1;
    int m_lastSortOrder = 0;
    int m_rowHeightMinTwips = 0;
    int m_mouseRow = -1;
    int m_mouseCol = -1;
    int m_selRow1 = -1, m_selCol1 = -1, m_selRow2 = -1, m_selCol2 = -1;
    int m_gridLines = GridFlat;
    QColor m_foreColor, m_backColor, m_foreColorSel, m_backColorSel, m_gridColor;
    QPixmap m_backPicture;
    QString m_clipSeparators;
    // Selected data rows as merged [first, last] model-row spans, with running counts.
    mutable bool m_selectionDirty = true;
    mutable std::vector<std::pair<int, int>> m_selectedSpans;
    mutable std::vector<int> m_selectedBefore;
    mutable int m_selectedCount = 0;
};
