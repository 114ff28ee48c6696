#pragma once
// Builds every menu action of the main window in one place: the menu bar and the grid's context
// menu mnuPopup. Each popup item is its own action (its own name and caption) that triggers its
// menu-bar twin, so both always run the same command.

#include <QObject>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

struct MainActions
{
    // Menu bar
    QMenu *mnuFile = nullptr;
    QAction *mnuFileOpen = nullptr;
    QAction *mnuFileDelete = nullptr;
    QAction *mnuFileProperties = nullptr;
    QAction *mnuFileShowContainingFolder = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuEdit = nullptr;
    QAction *mnuEditSelectAll = nullptr;
    QAction *mnuEditInvertSelection = nullptr;
    QMenu *mnuTools = nullptr;
    QAction *mnuExport = nullptr;
    QAction *mnuPreferences = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuSupport = nullptr;
    QAction *mnuHelp1 = nullptr;
    QAction *mnuAbout = nullptr;
    // Context menu (not in the menu bar)
    QMenu *mnuPopup = nullptr;
    QAction *mnuPopupOpen = nullptr;
    QAction *mnuPopupDelete = nullptr;
    QAction *mnuPopupProperties = nullptr;
    QAction *mnuPopupShowContainingFolder = nullptr;
    QAction *mnuPopupSelectAll = nullptr;
    QAction *mnuPopupInvertSelection = nullptr;

    // Creates the actions (owned by owner), fills menuBar and builds mnuPopup.
    void build(QWidget *owner, QMenuBar *menuBar);
};
