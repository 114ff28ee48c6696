#pragma once
// The main window's layout as the user left it, kept in a section of its own in Settings.ini:
// window geometry and state, the tree's width, the column widths, the sort column and order, and
// whether the advanced options show. Read when the window opens, written when it closes. A file
// without the section, or a value that makes no sense, gives the first-start layout for that
// value; nothing here ever stops the program or touches the file's other sections.

#include <QList>
#include <QRect>
#include <QString>

namespace modGlobal {

struct WindowLayout {
    QRect NormalGeometry;     // the window's area when not maximized; null = not remembered
    bool Maximized = false;
    int TreeWidth = -1;       // twips; -1 = not remembered
    QList<int> ColumnWidths;  // twips of the columns "File Name" .. "Pages"; empty = not remembered
    int SortColumn = -1;      // -1 = never sorted
    int SortOrder = 0;        // 1 ascending, 2 descending
    int AdvancedShown = -1;   // 1 shown, 0 hidden, -1 = not remembered

    bool operator==(const WindowLayout &) const = default;
};

// The section's name in Settings.ini.
QString WindowLayoutSection();

// Reads the section; a missing or unreadable file gives an empty layout.
WindowLayout ReadWindowLayout(const QString &path);
// Writes the section's keys, keeping every other byte of the file. Creates the folder when missing.
bool WriteWindowLayout(const QString &path, const WindowLayout &layout, QString *error = nullptr);

}  // namespace modGlobal
