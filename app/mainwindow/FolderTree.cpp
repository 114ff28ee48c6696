#include "FolderTree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>

FolderTree::FolderTree(QWidget *parent)
    : QTreeView(parent)
    , m_model(new QFileSystemModel(this))
{
    setObjectName(QStringLiteral("ftv"));
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());
    setModel(m_model);
    for (int c = 1; c < m_model->columnCount(); ++c)
        hideColumn(c);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setAnimated(false);
    setRootIndex(m_model->index(QDir::rootPath()));
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { onCurrentChanged(current); });
    // Without a start-up folder the tree opens at the user's home folder.
    setSelectedFolder(QDir::homePath());
}

QString FolderTree::selectedFolder() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_model->filePath(current) : QString();
}

bool FolderTree::setSelectedFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.isDir())
        return false;
    const QModelIndex index = m_model->index(info.absoluteFilePath());
    if (!index.isValid())
        return false;
    m_settingFromCode = true;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        expand(p);
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_settingFromCode = false;
    return true;
}

void FolderTree::onCurrentChanged(const QModelIndex &current)
{
    if (m_settingFromCode || !current.isValid())
        return;
    emit folderItemSelected(m_model->filePath(current));
    emit selected();
}
