#include "FlexGridView.h"

#include "FlexGrid.h"
#include "FlexGridAccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

FlexGridView::FlexGridView(FlexGrid *grid) : QTableView(grid), m_grid(grid) {}

void FlexGridView::paintEvent(QPaintEvent *e)
{
    if (!m_grid->m_backPicture.isNull()) {
        QPainter p(viewport());
        p.drawTiledPixmap(viewport()->rect(), m_grid->m_backPicture);
    }
    QTableView::paintEvent(e);
}

void FlexGridView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    // The wallpaper stays put while the cells move over it.
    if (!m_grid->m_backPicture.isNull())
        viewport()->update();
}

void FlexGridView::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    const int modelRow = rowAt(pos.y());
    const int col = columnAt(pos.x());
    m_grid->updateMousePosition(modelRow >= 0 ? modelRow + m_grid->fixedRows() : -1, col);
    const int button = e->button() == Qt::LeftButton    ? 1
                       : e->button() == Qt::RightButton ? 2
                       : e->button() == Qt::MiddleButton ? 4
                                                          : 0;
    emit m_grid->mouseDown(button, e->modifiers(), viewport()->mapTo(m_grid, pos));
    if (e->button() != Qt::LeftButton) {
        // Other buttons leave cursor and selection alone; their owners decide.
        e->accept();
        return;
    }
    // As in a file manager: only a press on a selected row may drag the files out; a press on
    // any other row sweeps a selection when the pointer moves on.
    const QModelIndex pressed = indexAt(pos);
    const bool sweep = dragEnabled() && pressed.isValid() && selectionModel() && !selectionModel()->isSelected(pressed);
    QTableView::mousePressEvent(e);
    if (sweep && state() == NoState)
        setState(DragSelectingState);
    if (modelRow >= 0 && col >= 0) {
        const int row = modelRow + m_grid->fixedRows();
        if (m_grid->cellChecked(row, col) != FlexGrid::NoCheckbox && m_grid->m_editable)
            m_grid->toggleCheck(row, col);
    }
}

void FlexGridView::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        e->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(e);
}

void FlexGridView::keyPressEvent(QKeyEvent *e)
{
    const int vk = FlexGrid::virtualKeyCode(e->key());
    if (vk) {
        bool handled = false;
        emit m_grid->keyDown(vk, e->modifiers(), &handled);
        if (handled) {
            e->accept();
            return;
        }
    }
    const QModelIndex cur = currentIndex();
    if (e->key() == Qt::Key_Space && cur.isValid() && m_grid->m_editable &&
        m_grid->cellChecked(cur.row() + m_grid->fixedRows(), cur.column()) != FlexGrid::NoCheckbox) {
        m_grid->toggleCheck(cur.row() + m_grid->fixedRows(), cur.column());
        e->accept();
        return;
    }
    if (e->key() == Qt::Key_Menu) {
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

bool FlexGridView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if (!index.isValid())
        return false;
    // Only ask about edits that would really start (not every change of the current cell).
    if (trigger == QAbstractItemView::AllEditTriggers || !(editTriggers() & trigger))
        return QTableView::edit(index, trigger, event);
    if (!m_grid->m_editable || !(model()->flags(index) & Qt::ItemIsEditable))
        return false;
    if (!m_grid->requestEdit(index.row() + m_grid->fixedRows(), index.column()))
        return false;
    return QTableView::edit(index, trigger, event);
}

void FlexGridView::commitData(QWidget *editor)
{
    QTableView::commitData(editor);
    const QModelIndex cur = currentIndex();
    if (cur.isValid())
        emit m_grid->afterEdit(cur.row() + m_grid->fixedRows(), cur.column());
}

void FlexGridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QAbstractItemView::currentChanged(current, previous);
    if (QAccessible::isActive() && current.isValid()) {
        const int child = flexgridaccess::childIndexOf(this, current.row(), current.column());
        if (child >= 0) {
            QAccessibleEvent event(this, QAccessible::Focus);
            event.setChild(child);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void FlexGridView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&event);
    }
}

void FlexGridView::focusInEvent(QFocusEvent *e)
{
    QTableView::focusInEvent(e);
    viewport()->update();
}

void FlexGridView::focusOutEvent(QFocusEvent *e)
{
    QTableView::focusOutEvent(e);
    viewport()->update();
}
