#pragma once
// Commands on the result grid that the window offers besides its menus: Ctrl+C copies the
// selected rows, and a right click on the header opens a menu of the columns to show or hide.

#include <QObject>
#include <QPoint>

#include <functional>

class QMenu;
class QWidget;
class ResultGrid;

class ResultGridCommands : public QObject
{
    Q_OBJECT
public:
    // refreshGrid re-applies the settings record to the grid (the window's RefreshGrid); window
    // owns this object, the menu and any message.
    ResultGridCommands(ResultGrid &grid, std::function<void()> refreshGrid, QWidget *window);

    // The selected rows that are not deleted go to the clipboard as tab-separated text (the
    // visible columns, cells quoted as the export quotes them, one line each) and as a list of
    // file URLs of the files' own bytes; nothing selected leaves the clipboard alone.
    void copySelectedRows();
    // Every data column, ticked when shown; a choice is applied at once and saved in the settings
    // file as Preferences saves it. The last column shown cannot be hidden.
    void showColumnMenu(QPoint globalPos);
    QMenu *columnMenu() const { return m_columnMenu; }

private:
    ResultGrid &m_grid;
    std::function<void()> m_refreshGrid;
    QWidget *m_window;
    QMenu *m_columnMenu = nullptr;  // made once; its items are made anew each time it opens
};
