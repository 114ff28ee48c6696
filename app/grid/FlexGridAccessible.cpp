#include "FlexGridAccessible.h"

#include "FlexGrid.h"
#include "FlexGridModel.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTableView>

#include <algorithm>
#include <vector>

namespace {

class GridTable;

// One cell (or header cell, row -1) of the table, by model row and column.
class GridCell final : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    GridCell(QTableView *view, int modelRow, int column) : m_view(view), m_row(modelRow), m_col(column) {}

    bool isValid() const override
    {
        if (!m_view || !m_view->model() || m_col >= m_view->model()->columnCount())
            return false;
        return m_row < 0 || (m_row < m_view->model()->rowCount() && !m_view->isRowHidden(m_row));
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    void setText(QAccessible::Text, const QString &) override {}
    QAccessible::Role role() const override { return m_row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        if (m_row < 0)
            return t == QAccessible::Name ? m_view->model()->headerData(m_col, Qt::Horizontal).toString() : QString();
        const QModelIndex index = m_view->model()->index(m_row, m_col);
        switch (t) {
        case QAccessible::Name: return index.data(Qt::DisplayRole).toString();
        case QAccessible::Description: return index.data(Qt::ToolTipRole).toString();
        default: return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        if (m_row < 0) {
            QHeaderView *h = m_view->horizontalHeader();
            const QRect r(h->sectionViewportPosition(m_col), 0, h->sectionSize(m_col), h->height());
            return QRect(h->viewport()->mapToGlobal(r.topLeft()), r.size());
        }
        const QRect r = m_view->visualRect(m_view->model()->index(m_row, m_col));
        return QRect(m_view->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        if (m_row < 0)
            return s;
        const QModelIndex index = m_view->model()->index(m_row, m_col);
        s.selectable = true;
        s.focusable = true;
        s.selected = m_view->selectionModel()->isSelected(index);
        s.focused = m_view->hasFocus() && m_view->currentIndex() == index;
        s.invisible = !m_view->viewport()->rect().intersects(m_view->visualRect(index));
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface *>(this) : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override
    {
        return isValid() && m_row >= 0 && m_view->selectionModel()->isSelected(m_view->model()->index(m_row, m_col));
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override;
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override;
    int rowIndex() const override;
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    int modelRow() const { return m_row; }
    int column() const { return m_col; }

private:
    QPointer<QTableView> m_view;
    int m_row;
    int m_col;
};

class GridTable final : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit GridTable(QTableView *view) : QAccessibleWidget(view, QAccessible::Table), m_watcher(new QObject)
    {
        // Any change of rows, their order or their hidden flags renumbers the cells.
        const auto stale = [this] { invalidate(); };
        QAbstractItemModel *model = view->model();
        QObject::connect(model, &QAbstractItemModel::rowsInserted, m_watcher, stale);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, m_watcher, stale);
        QObject::connect(model, &QAbstractItemModel::modelReset, m_watcher, stale);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, m_watcher, stale);
        QObject::connect(model, &QAbstractItemModel::columnsInserted, m_watcher, stale);
        QObject::connect(model, &QAbstractItemModel::columnsRemoved, m_watcher, stale);
        if (auto *flex = qobject_cast<FlexGridModel *>(model)) {
            QObject::connect(flex, &FlexGridModel::rowHiddenChanged, m_watcher, stale);
            QObject::connect(flex, &FlexGridModel::columnLayoutChanged, m_watcher, stale);
        }
    }
    ~GridTable() override
    {
        dropCells();
        delete m_watcher;
    }

    QTableView *view() const { return static_cast<QTableView *>(widget()); }

    // The exposed rows (model rows, ascending) and columns.
    const std::vector<int> &rows() const
    {
        build();
        return m_rows;
    }
    const std::vector<int> &columns() const
    {
        build();
        return m_cols;
    }
    int exposedRow(int modelRow) const
    {
        const auto &r = rows();
        const auto it = std::lower_bound(r.begin(), r.end(), modelRow);
        return it != r.end() && *it == modelRow ? int(it - r.begin()) : -1;
    }
    int exposedColumn(int column) const
    {
        const auto &c = columns();
        const auto it = std::find(c.begin(), c.end(), column);
        return it != c.end() ? int(it - c.begin()) : -1;
    }

    QAccessibleInterface *cell(int modelRow, int column) const
    {
        const qint64 key = (qint64(modelRow + 1) << 20) | column;
        if (auto it = m_cells.constFind(key); it != m_cells.constEnd())
            if (QAccessibleInterface *known = QAccessible::accessibleInterface(it.value()))
                return known;
        auto *c = new GridCell(view(), modelRow, column);
        m_cells.insert(key, QAccessible::registerAccessibleInterface(c));
        return c;
    }

    // QAccessibleInterface
    QString text(QAccessible::Text t) const override
    {
        // The grid's name is the table's, unless the table has one of its own.
        QString s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Name && view()->parentWidget())
            s = view()->parentWidget()->accessibleName();
        return s;
    }
    int childCount() const override { return int(columns().size() * (rows().size() + 1)); }
    QAccessibleInterface *child(int index) const override
    {
        const int cols = int(columns().size());
        if (index < 0 || cols == 0 || index >= childCount())
            return nullptr;
        const int r = index / cols - 1;
        return cell(r < 0 ? -1 : rows()[size_t(r)], columns()[size_t(index % cols)]);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *c = dynamic_cast<const GridCell *>(child);
        if (!c || !c->isValid())
            return -1;
        const int col = exposedColumn(c->column());
        const int row = c->modelRow() < 0 ? -1 : exposedRow(c->modelRow());
        if (col < 0 || (c->modelRow() >= 0 && row < 0))
            return -1;
        return (row + 1) * int(columns().size()) + col;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint p = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(p);
        if (!index.isValid() || view()->isRowHidden(index.row()))
            return nullptr;
        return cell(index.row(), index.column());
    }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex cur = view()->currentIndex();
        if (!cur.isValid() || view()->isRowHidden(cur.row()) || view()->isColumnHidden(cur.column()))
            return nullptr;
        return cell(cur.row(), cur.column());
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
            return nullptr;
        return cell(rows()[size_t(row)], columns()[size_t(column)]);
    }
    int rowCount() const override { return int(rows().size()); }
    int columnCount() const override { return int(columns().size()); }
    QString columnDescription(int column) const override
    {
        if (column < 0 || column >= columnCount())
            return {};
        return view()->model()->headerData(columns()[size_t(column)], Qt::Horizontal).toString();
    }
    QString rowDescription(int) const override { return {}; }
    QList<int> selectedRows() const override
    {
        QList<int> out;
        for (const QModelIndex &i : view()->selectionModel()->selectedRows())
            if (const int r = exposedRow(i.row()); r >= 0)
                out << r;
        std::sort(out.begin(), out.end());
        return out;
    }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    QList<int> selectedColumns() const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedCellCount() const override { return selectedRowCount() * columnCount(); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        QList<QAccessibleInterface *> out;
        for (int r : selectedRows())
            for (int c = 0; c < columnCount(); ++c)
                out << cellAt(r, c);
        return out;
    }
    bool isRowSelected(int row) const override
    {
        return row >= 0 && row < rowCount() && view()->selectionModel()->isRowSelected(rows()[size_t(row)]);
    }
    bool isColumnSelected(int) const override { return false; }
    bool selectRow(int row) override { return changeRow(row, QItemSelectionModel::Select); }
    bool unselectRow(int row) override { return changeRow(row, QItemSelectionModel::Deselect); }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override { invalidate(); }

private:
    bool changeRow(int row, QItemSelectionModel::SelectionFlags how)
    {
        if (row < 0 || row >= rowCount())
            return false;
        const QModelIndex index = view()->model()->index(rows()[size_t(row)], 0);
        view()->selectionModel()->select(index, how | QItemSelectionModel::Rows);
        return true;
    }
    void build() const
    {
        if (m_built)
            return;
        m_rows.clear();
        m_cols.clear();
        if (QAbstractItemModel *model = view()->model()) {
            const int n = model->rowCount();
            m_rows.reserve(size_t(n));
            for (int r = 0; r < n; ++r)
                if (!view()->isRowHidden(r))
                    m_rows.push_back(r);
            for (int c = 0; c < model->columnCount(); ++c)
                if (!view()->isColumnHidden(c))
                    m_cols.push_back(c);
        }
        m_built = true;
    }
    void invalidate()
    {
        m_built = false;
        dropCells();
    }
    void dropCells() const
    {
        for (QAccessible::Id id : std::as_const(m_cells))
            if (QAccessible::accessibleInterface(id))
                QAccessible::deleteAccessibleInterface(id);
        m_cells.clear();
    }

    QObject *m_watcher;
    mutable bool m_built = false;
    mutable std::vector<int> m_rows;
    mutable std::vector<int> m_cols;
    mutable QHash<qint64, QAccessible::Id> m_cells;
};

GridTable *tableOf(const QTableView *view)
{
    return dynamic_cast<GridTable *>(QAccessible::queryAccessibleInterface(const_cast<QTableView *>(view)));
}

QList<QAccessibleInterface *> GridCell::columnHeaderCells() const
{
    GridTable *t = m_view ? tableOf(m_view) : nullptr;
    return t ? QList<QAccessibleInterface *>{t->cell(-1, m_col)} : QList<QAccessibleInterface *>{};
}

int GridCell::columnIndex() const
{
    GridTable *t = m_view ? tableOf(m_view) : nullptr;
    return t ? t->exposedColumn(m_col) : -1;
}

int GridCell::rowIndex() const
{
    GridTable *t = m_view ? tableOf(m_view) : nullptr;
    return t && m_row >= 0 ? t->exposedRow(m_row) : -1;
}

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *view = qobject_cast<QTableView *>(object);
    if (className == QLatin1String("FlexGridView") && view && qobject_cast<FlexGrid *>(view->parentWidget()))
        return new GridTable(view);
    return nullptr;
}

}  // namespace

namespace flexgridaccess {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

int childIndexOf(QTableView *view, int modelRow, int column)
{
    GridTable *t = tableOf(view);
    return t ? t->indexOfChild(t->cell(modelRow, column)) : -1;
}

}  // namespace flexgridaccess
