#pragma once
// The grid's table: wallpaper, mouse and key events reported as the grid's, edits asked for, and
// accessibility events numbered as assistive tools count rows.

#include <QTableView>

class FlexGrid;

class FlexGridView : public QTableView
{
    Q_OBJECT  // its own class name: assistive tools get the grid's view of the table (FlexGridAccessible)

public:
    explicit FlexGridView(FlexGrid *grid);

protected:
    void paintEvent(QPaintEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void commitData(QWidget *editor) override;

    // The table's own events number cells as if no row were hidden; assistive tools count the
    // visible rows only, so the events are sent here with that numbering.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    FlexGrid *m_grid;
};
