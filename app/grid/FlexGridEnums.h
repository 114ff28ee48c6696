#pragma once
// The grid control's codes (column types, sort settings, check states, selection modes, line
// styles), without widgets: the model and the sort keys use them too. FlexGrid inherits them, so
// callers keep writing FlexGrid::TypeDate.

struct FlexGridEnums
{
    // Column data types: how a column's cells are shown, compared and edited.
    enum ColumnType {
        TypeText = 0,
        TypeDecimal = 1,  // numbers (digit groups and a trailing unit such as " KB" are allowed)
        TypeDate = 2,     // date and time, read with dateFormat()
        TypeBoolean = 3,  // shown as a check box (the cell's check state)
    };

    // Per-column sort settings, used by sortSelection() (the codes follow the usual control's).
    enum ColSortSetting {
        SortNone = 0,
        SortGenericAscending = 1,   // numbers by value where the text is a number, else as text
        SortGenericDescending = 2,
        SortNumericAscending = 3,   // by value; text that is no number ranks below every number
        SortNumericDescending = 4,
        SortStringNoCaseAscending = 5,
        SortStringNoCaseDescending = 6,
        SortStringAscending = 7,
        SortStringDescending = 8,
        SortDateAscending = 9,      // date and time read with dateFormat()
        SortDateDescending = 10,
    };

    // Direction codes reported by afterSort.
    enum SortOrderCode { SortedAscending = 1, SortedDescending = 2 };

    // Check box of a cell.
    enum CellCheck { NoCheckbox = 0, Checked = 1, Unchecked = 2, Grayed = 3 };

    enum SelectionMode {
        SelectionFree = 0,     // one cell or a rectangle
        SelectionByRow = 1,    // a single whole row
        SelectionListBox = 2,  // any set of whole rows (click, Ctrl+click, Shift+click)
    };

    // Grid-line style codes; anything else is drawn as GridFlat.
    enum GridLineCode {
        GridNone = 0,
        GridFlat = 1,
        GridInset = 2,
        GridRaised = 3,
        GridFlatHorz = 4,
        GridInsetHorz = 5,
        GridRaisedHorz = 6,
        GridFlatVert = 8,
        GridInsetVert = 9,
        GridRaisedVert = 10,
        GridExplorer = 12,
        GridExcel = 13,
    };
};
