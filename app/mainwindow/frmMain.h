#pragma once
// The main window: folder tree and address box, result grid, totals, criteria, search bar, status
// bar and menus. It wires the controls to the commands; the work lives in SearchCommand (search),
// ResultGrid (grid) and MainCommands (file actions, export, preferences, help, About).

#include "SearchCommand.h"
#include "MainActions.h"

#include <QMainWindow>

#include <memory>

class FileIcons;
class FolderTree;
class UnreadFoldersNotice;
class MainCommands;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QSplitter;
class QTimer;
class ResultGrid;
class SearchProgress;
class SelectionTotals;
class StatusPanels;

namespace search {
class SearchCriteriaPanel;
}

class frmMain : public QMainWindow, private search::SearchHost
{
    Q_OBJECT
public:
    // Builds the window and runs its load step; the window stays hidden.
    // counters empty: the page counter components through the runtime (one factory per lane).
    explicit frmMain(QWidget *parent = nullptr, search::SearchCore::FactoryMaker counters = {});
    ~frmMain() override;

    // Sets the text of the status-bar panel with this key ("Message", "Files").
    void ShowStatus(const QString &text, const QString &panelKey);
    // Re-applies the grid's look and column visibility from the settings record.
    void RefreshGrid();
    // The Search command: starts a search of CurrentFolder, or cancels the running one.
    void cmdSearch_Click();
    // F5: searches CurrentFolder again; a running search is cancelled and starts over.
    void repeatSearch();
    // Esc: cancels the running search as the Cancel button does; nothing when none runs.
    void cancelSearch();

    QString CurrentFolder() const { return m_currentFolder; }
    bool FirstActivation() const { return m_firstActivation; }
    search::SearchCommand &folderSearch() { return *m_search; }
    const MainActions &actions() const { return m_actions; }
    MainCommands &commands() { return *m_commands; }
    // Replaces the commands object (the window keeps it).
    void setCommands(std::unique_ptr<MainCommands> commands);

    // Controls the commands work on.
    FolderTree *ftv = nullptr;
    ResultGrid *vsFiles = nullptr;
    QSplitter *spSplitter = nullptr;
    QLineEdit *txtAddress = nullptr;
    QLabel *lblPageCount = nullptr;
    search::SearchCriteriaPanel *criteriaPanel = nullptr;
    QPushButton *cmdSearch = nullptr;
    QPushButton *cmdExport = nullptr;
    QPushButton *cmdShowHideAdvanceSearch = nullptr;
    StatusPanels *sbGeneral = nullptr;
    UnreadFoldersNotice *unreadFolders = nullptr;  // in the status bar, after a search

    // Searches this folder as if the user had picked it in the tree (a folder dropped on the
    // window): the tree shows it, then the tree's two notifications run.
    void searchFolderAsPicked(const QString &folder);

signals:
    // Raised by ShowStatus after the panel shows the text.
    void statusShown(const QString &text, const QString &panelKey);
    // A search started by the Search command has ended (done or cancelled).
    void searchFinished();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildControls();
    void buildLayout();
    void connectCommands();
    void loadStep();
    void runFirstActivation();
    void ftv_FolderItemSelected(const QString &path);
    void ftv_Selected();
    // Starts a search of CurrentFolder through the Search command and shows that it runs.
    void startSearch();
    // The search has ended: starts the one a pick was waiting for, or says so.
    void searchEnded();
    void cmdShowHideAdvanceSearch_Click();
    void mnuExit_Click();

    // search::SearchHost
    int rowCount() const override;
    void clearRows() override;
    void appendFile(const search::CountedFile &file, const QPixmap &icon) override;
    QPixmap fileIcon(const QString &fullPath) override;
    QString filterText() const override;
    void setFilterText(const QString &text) override;
    search::SearchOptions searchOptions() const override;
    QString searchCaption() const override;
    void setSearchCaption(const QString &caption) override;
    void showStatus(const QString &text, const QString &panelKey) override;
    void setTotalsText(const QString &text) override;
    void showUnreadFolders(const QString &text, const QString &details) override;

    QString m_currentFolder;
    bool m_firstActivation = true;
    MainActions m_actions;
    std::unique_ptr<MainCommands> m_commands;
    std::unique_ptr<search::SearchCommand> m_search;
    std::unique_ptr<FileIcons> m_icons;
    QTimer *m_gridPaintPause = nullptr;  // while it runs, new rows wait to be painted
    SelectionTotals *m_selectionTotals = nullptr;
    SearchProgress *m_progress = nullptr;
    QShortcut *m_cancelKey = nullptr;  // enabled only while a search runs, so Esc is free otherwise
    QString m_searchedFolder;      // the folder the running search walks
    bool m_restartPending = false;  // another folder was picked while a search ran
    QFrame *fmeAddressBar = nullptr;
    QFrame *fmeSearch = nullptr;
};
