#pragma once
// What assistive tools (screen readers) see of the grid's table: its visible rows and columns
// only. Rows hidden by the program (deleted files) and hidden columns are not there for them,
// as they are not there for the eye.

class QTableView;

namespace flexgridaccess {

// Makes the grid's table use this view of itself; once per process.
void install();
// The accessible row number of a model row (-1 when the row is hidden), and the accessible child
// index of a cell, as focus events must name them.
int childIndexOf(QTableView *view, int modelRow, int column);

}  // namespace flexgridaccess
