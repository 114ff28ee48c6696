#pragma once
// Names for assistive tools (screen readers) on the main window's controls that show no text of
// their own: the tree, the grid, the address box, the criteria boxes, date pickers and arrows.

class frmMain;

void nameForAssistiveTools(frmMain &window);
