#pragma once
// ftv: the folder tree (folders only, hidden folders included). A folder picked by the user raises
// folderItemSelected(path) and then selected(); setting the folder from code raises neither.

#include <QTreeView>

class QFileSystemModel;

class FolderTree : public QTreeView
{
    Q_OBJECT
public:
    explicit FolderTree(QWidget *parent = nullptr);

    // The selected folder's path as the file system names it; empty when none is selected.
    QString selectedFolder() const;
    // Selects, expands to and shows the folder; false (selection unchanged) when it is no folder.
    bool setSelectedFolder(const QString &path);

signals:
    void folderItemSelected(const QString &path);
    void selected();

private:
    void onCurrentChanged(const QModelIndex &current);

    QFileSystemModel *m_model;
    bool m_settingFromCode = false;
};
