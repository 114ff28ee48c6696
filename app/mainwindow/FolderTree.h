#pragma once
// ftv: the folder tree (folders only, hidden folders included). A folder picked by the user raises
// folderItemSelected(path) and then selected(); setting the folder from code raises neither.
// A click picks at once. Moving through the tree with the keys picks the folder where the user
// stops (settleDelay() later) or presses Enter, so a run of arrow keys starts one search.
// A folder that vanishes from the tree is never a pick: the item the view moves to instead is
// not searched until the user picks it.

#include <QPersistentModelIndex>
#include <QTreeView>

class QFileSystemModel;
class QTimer;

class FolderTree : public QTreeView
{
    Q_OBJECT
public:
    explicit FolderTree(QWidget *parent = nullptr);

    // The selected folder's path as the file system names it; empty when none is selected.
    QString selectedFolder() const;
    // Selects, expands to and shows the folder; false (selection unchanged) when it is no folder.
    bool setSelectedFolder(const QString &path);

    static constexpr int kSettleDelayMs = 300;
    int settleDelay() const;
    void setSettleDelay(int ms);
    // True while a key move waits for the user to stop.
    bool pickPending() const;
    // Picks the folder a key move is waiting on now (what the settle delay does when it ends).
    void settle();

signals:
    void folderItemSelected(const QString &path);
    void selected();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onCurrentChanged(const QModelIndex &current);
    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onRowsRemoved();
    void pick(const QModelIndex &index);

    QFileSystemModel *m_model;
    QTimer *m_settle;
    QPersistentModelIndex m_pending;
    bool m_settingFromCode = false;
    bool m_keyMove = false;
    bool m_currentVanishing = false;  // the current folder's row is being removed
};
