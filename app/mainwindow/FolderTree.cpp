#include "FolderTree.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>

namespace {

// The folder names only. Size, type and date columns hidden in the view would still be read out
// by screen readers, which walk the model's columns; a model without them shows nothing extra.
class FolderNameModel final : public QFileSystemModel
{
public:
    using QFileSystemModel::QFileSystemModel;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return std::min(1, QFileSystemModel::columnCount(parent));
    }
};

}  // namespace

FolderTree::FolderTree(QWidget *parent)
    : QTreeView(parent)
    , m_model(new FolderNameModel(this))
    , m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleDelayMs);
    connect(m_settle, &QTimer::timeout, this, &FolderTree::settle);
    setObjectName(QStringLiteral("ftv"));
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());
    // Connected before the view's own handlers, so these run while the current item is still
    // where the user left it.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) { onRowsAboutToBeRemoved(parent, first, last); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { onRowsRemoved(); });
    setModel(m_model);
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

int FolderTree::settleDelay() const { return m_settle->interval(); }
void FolderTree::setSettleDelay(int ms) { m_settle->setInterval(std::max(0, ms)); }
bool FolderTree::pickPending() const { return m_settle->isActive(); }

void FolderTree::settle()
{
    m_settle->stop();
    const QModelIndex index = m_pending;
    m_pending = QPersistentModelIndex();
    if (index.isValid())
        pick(index);
}

void FolderTree::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        // Enter searches now: the folder a move waits on, else the current one again.
        if (!pickPending())
            m_pending = currentIndex();
        settle();
        event->accept();
        return;
    }
    m_keyMove = true;
    QTreeView::keyPressEvent(event);
    m_keyMove = false;
}

void FolderTree::onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    // The current folder, or one above it, has vanished: the view moves its current item to a
    // neighbour, which nobody picked.
    for (QModelIndex i = currentIndex(); i.isValid(); i = i.parent()) {
        if (i.parent() == parent && i.row() >= first && i.row() <= last) {
            m_currentVanishing = true;
            return;
        }
    }
}

void FolderTree::onRowsRemoved()
{
    if (!m_currentVanishing)
        return;
    m_currentVanishing = false;
    // Nothing stays picked, so a click on any folder, the one the view moved to included, is a
    // pick of its own.
    m_settingFromCode = true;
    selectionModel()->clear();
    m_settingFromCode = false;
}

void FolderTree::onCurrentChanged(const QModelIndex &current)
{
    if (m_settingFromCode || m_currentVanishing || !current.isValid())
        return;
    if (m_keyMove) {
        m_pending = current;
        m_settle->start();
        return;
    }
    m_settle->stop();
    m_pending = QPersistentModelIndex();
    pick(current);
}

void FolderTree::pick(const QModelIndex &index)
{
    emit folderItemSelected(m_model->filePath(index));
    emit selected();
}
