#include "FlexGrid.h"

#include "DelimitedText.h"

#include "CheckedWrite.h"
#include "FlexGridAccessible.h"
#include "FlexGridDelegate.h"
#include "FlexGridHeader.h"
#include "FlexGridModel.h"
#include "FlexGridView.h"
#include "Twips.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QStringDecoder>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

FlexGrid::FlexGrid(QWidget *parent) : QWidget(parent)
{
    flexgridaccess::install();
    m_model = new FlexGridModel(this);
    m_view = new FlexGridView(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    auto *header = new FlexGridHeader(this);
    m_view->setHorizontalHeader(header);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new FlexGridDelegate(this));
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setCornerButtonEnabled(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setContextMenuPolicy(Qt::PreventContextMenu);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setTabKeyNavigation(false);

    const QPalette pal = palette();
    m_foreColor = pal.color(QPalette::Text);
    m_backColor = pal.color(QPalette::Base);
    m_foreColorSel = pal.color(QPalette::HighlightedText);
    m_backColorSel = pal.color(QPalette::Highlight);
    m_gridColor = pal.color(QPalette::Mid);
    m_model->setDateFormat(QStringLiteral("MM/dd/yyyy hh:mm AP"));

    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { headerClicked(section); });
    connect(header, &QHeaderView::sectionResized, this, [this](int logical, int, int newSize) {
        if (!m_syncingColumns && newSize > 0)
            m_model->setColWidth(logical, platform::pixelsToTwips(newSize));
    });
    connect(m_model, &FlexGridModel::columnLayoutChanged, this, [this] { syncColumnsToView(); });
    connect(m_model, &FlexGridModel::rowHiddenChanged, this, [this](int gridRow, bool hidden) {
        m_view->setRowHidden(gridRow - m_model->fixedRows(), hidden);
    });
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] {
        syncHiddenRowsToView();
        selectionDirty();
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        syncHiddenRowsToView();
        syncColumnsToView();
        selectionDirty();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { selectionDirty(); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { selectionDirty(); });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionDirty(); });

    setSelectionMode(SelectionFree);
    applyRowHeight();
    refreshLook();
}

FlexGrid::~FlexGrid() = default;

// Callers of these see every row appended so far.
QTableView *FlexGrid::view() const
{
    m_model->flushPendingRows();
    return m_view;
}

FlexGridModel *FlexGrid::model() const
{
    m_model->flushPendingRows();
    return m_model;
}

int FlexGrid::toModelRow(int row) const { return row - m_model->fixedRows(); }

// ---------------------------------------------------------------- shape

int FlexGrid::rows() const { return m_model->gridRows(); }
void FlexGrid::setRows(int rows) { m_model->setGridRows(rows); }
int FlexGrid::cols() const { return m_model->cols(); }
void FlexGrid::setCols(int cols) { m_model->setCols(cols); }
int FlexGrid::fixedRows() const { return m_model->fixedRows(); }

void FlexGrid::setFixedRows(int fixedRows)
{
    m_model->setFixedRows(fixedRows);
    m_view->horizontalHeader()->setVisible(m_model->fixedRows() > 0);
}

int FlexGrid::fixedCols() const { return m_model->fixedCols(); }
void FlexGrid::setFixedCols(int fixedCols) { m_model->setFixedCols(fixedCols); }

// ---------------------------------------------------------------- cells

QString FlexGrid::textMatrix(int row, int col) const { return m_model->text(row, col); }
void FlexGrid::setTextMatrix(int row, int col, const QString &text) { m_model->setText(row, col, text); }
QPixmap FlexGrid::cellPicture(int row, int col) const { return m_model->picture(row, col); }
void FlexGrid::setCellPicture(int row, int col, const QPixmap &picture) { m_model->setPicture(row, col, picture); }

void FlexGrid::setCellPicture(int row1, int col1, int row2, int col2, const QPixmap &picture)
{
    for (int r = std::min(row1, row2); r <= std::max(row1, row2); ++r)
        for (int c = std::min(col1, col2); c <= std::max(col1, col2); ++c)
            m_model->setPicture(r, c, picture);
}

Qt::Alignment FlexGrid::cellPictureAlignment(int row, int col) const { return m_model->pictureAlignment(row, col); }

void FlexGrid::setCellPictureAlignment(int row, int col, Qt::Alignment alignment)
{
    m_model->setPictureAlignment(row, col, alignment);
    if (row < fixedRows())
        m_view->horizontalHeader()->viewport()->update();
}

Qt::Alignment FlexGrid::cellAlignment(int row, int col) const
{
    const Qt::Alignment a = m_model->cellAlignment(row, col);
    return a ? a : m_model->colAlignment(col);
}

void FlexGrid::setCellAlignment(int row, int col, Qt::Alignment alignment)
{
    m_model->setCellAlignment(row, col, alignment);
}

void FlexGrid::setCellAlignment(int row1, int col1, int row2, int col2, Qt::Alignment alignment)
{
    for (int r = std::min(row1, row2); r <= std::max(row1, row2); ++r)
        for (int c = std::min(col1, col2); c <= std::max(col1, col2); ++c)
            m_model->setCellAlignment(r, c, alignment);
}

FlexGrid::CellCheck FlexGrid::cellChecked(int row, int col) const { return CellCheck(m_model->check(row, col)); }
void FlexGrid::setCellChecked(int row, int col, CellCheck state) { m_model->setCheck(row, col, state); }
QString FlexGrid::cellToolTip(int row, int col) const { return m_model->toolTip(row, col); }
void FlexGrid::setCellToolTip(int row, int col, const QString &text) { m_model->setToolTip(row, col, text); }

// ---------------------------------------------------------------- columns

int FlexGrid::colWidth(int col) const
{
    if (col < 0 || col >= cols())
        return 0;
    const int twips = m_model->colWidth(col);
    if (twips >= 0)
        return twips;
    return platform::pixelsToTwips(m_view->horizontalHeader()->defaultSectionSize());
}

void FlexGrid::setColWidth(int col, int twips) { m_model->setColWidth(col, std::max(0, twips)); }
Qt::Alignment FlexGrid::colAlignment(int col) const { return m_model->colAlignment(col); }
void FlexGrid::setColAlignment(int col, Qt::Alignment alignment) { m_model->setColAlignment(col, alignment); }
FlexGrid::ColumnType FlexGrid::colDataType(int col) const { return ColumnType(m_model->colType(col)); }
void FlexGrid::setColDataType(int col, ColumnType type) { m_model->setColType(col, type); }
bool FlexGrid::colHidden(int col) const { return m_model->colHidden(col); }
void FlexGrid::setColHidden(int col, bool hidden) { m_model->setColHidden(col, hidden); }
void FlexGrid::setColPosition(int col, int position) { m_model->moveColumn(col, position); }
FlexGrid::ColSortSetting FlexGrid::colSort(int col) const { return ColSortSetting(m_model->colSort(col)); }
void FlexGrid::setColSort(int col, ColSortSetting setting) { m_model->setColSort(col, setting); }

void FlexGrid::syncColumnsToView()
{
    m_syncingColumns = true;
    QHeaderView *h = m_view->horizontalHeader();
    for (int c = 0; c < cols(); ++c) {
        const bool hidden = m_model->colHidden(c);
        if (m_view->isColumnHidden(c) != hidden)
            m_view->setColumnHidden(c, hidden);
        if (!hidden) {
            const int twips = m_model->colWidth(c);
            const int px = twips >= 0 ? platform::twipsToPixels(twips) : h->defaultSectionSize();
            if (m_view->columnWidth(c) != px)
                m_view->setColumnWidth(c, px);
        }
    }
    m_syncingColumns = false;
}

// ---------------------------------------------------------------- rows

bool FlexGrid::rowHidden(int row) const { return m_model->rowHidden(row); }
void FlexGrid::setRowHiddenFlag(int row, bool hidden) { m_model->setRowHidden(row, hidden); }
int FlexGrid::rowHeightMin() const { return m_rowHeightMinTwips; }

void FlexGrid::setRowHeightMin(int twips)
{
    m_rowHeightMinTwips = std::max(0, twips);
    applyRowHeight();
}

void FlexGrid::applyRowHeight()
{
    const int px = std::max(platform::twipsToPixels(m_rowHeightMinTwips), fontMetrics().height() + 4);
    QHeaderView *v = m_view->verticalHeader();
    v->setMinimumSectionSize(std::min(px, v->minimumSectionSize()));
    v->setDefaultSectionSize(px);
}

void FlexGrid::syncHiddenRowsToView()
{
    const int fixed = fixedRows();
    const int n = m_model->rowCount();
    if (m_view->verticalHeader()->hiddenSectionCount() == 0) {
        // Nothing hidden in the view (the usual case): only the model's hidden rows need a call.
        for (int r = 0; r < n; ++r)
            if (m_model->rowHidden(r + fixed))
                m_view->setRowHidden(r, true);
        return;
    }
    for (int r = 0; r < n; ++r) {
        const bool hidden = m_model->rowHidden(r + fixed);
        if (m_view->isRowHidden(r) != hidden)
            m_view->setRowHidden(r, hidden);
    }
}

// ---------------------------------------------------------------- selection

FlexGrid::SelectionMode FlexGrid::selectionMode() const { return m_selectionMode; }

void FlexGrid::setSelectionMode(SelectionMode mode)
{
    m_selectionMode = mode;
    switch (mode) {
    case SelectionFree:
        m_view->setSelectionBehavior(QAbstractItemView::SelectItems);
        m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        break;
    case SelectionByRow:
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_view->setSelectionMode(QAbstractItemView::SingleSelection);
        break;
    case SelectionListBox:
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        break;
    }
}

void FlexGrid::rebuildSelectionCache() const
{
    m_model->flushPendingRows();
    if (!m_selectionDirty)
        return;
    m_selectedSpans.clear();
    const QItemSelection sel = m_view->selectionModel()->selection();
    std::vector<std::pair<int, int>> spans;
    spans.reserve(size_t(sel.size()));
    for (const QItemSelectionRange &range : sel)
        if (range.isValid())
            spans.emplace_back(range.top(), range.bottom());
    std::sort(spans.begin(), spans.end());
    for (const auto &s : spans) {
        if (!m_selectedSpans.empty() && s.first <= m_selectedSpans.back().second + 1)
            m_selectedSpans.back().second = std::max(m_selectedSpans.back().second, s.second);
        else
            m_selectedSpans.push_back(s);
    }
    m_selectedBefore.assign(m_selectedSpans.size(), 0);
    int count = 0;
    for (size_t i = 0; i < m_selectedSpans.size(); ++i) {
        m_selectedBefore[i] = count;
        count += m_selectedSpans[i].second - m_selectedSpans[i].first + 1;
    }
    m_selectedCount = count;
    m_selectionDirty = false;
}

int FlexGrid::selectedRows() const
{
    rebuildSelectionCache();
    return m_selectedCount;
}

int FlexGrid::selectedRow(int index) const
{
    rebuildSelectionCache();
    if (index < 0 || index >= m_selectedCount)
        return -1;
    auto it = std::upper_bound(m_selectedBefore.begin(), m_selectedBefore.end(), index);
    const size_t k = size_t(it - m_selectedBefore.begin()) - 1;
    return m_selectedSpans[k].first + (index - m_selectedBefore[k]) + fixedRows();
}

std::vector<std::pair<int, int>> FlexGrid::selectedRowSpans() const
{
    rebuildSelectionCache();
    std::vector<std::pair<int, int>> spans = m_selectedSpans;
    for (auto &[first, last] : spans) {
        first += fixedRows();
        last += fixedRows();
    }
    return spans;
}

bool FlexGrid::isSelected(int row) const
{
    rebuildSelectionCache();
    const int mr = toModelRow(row);
    auto it = std::upper_bound(m_selectedSpans.begin(), m_selectedSpans.end(), std::make_pair(mr, INT_MAX));
    if (it == m_selectedSpans.begin())
        return false;
    --it;
    return mr >= it->first && mr <= it->second;
}

void FlexGrid::setIsSelected(int row, bool selected)
{
    m_model->flushPendingRows();
    const int n = m_model->rowCount();
    if (n == 0 || cols() == 0)
        return;
    QItemSelectionModel *sm = m_view->selectionModel();
    if (row == -1) {
        if (selected)
            sm->select(QItemSelection(m_model->index(0, 0), m_model->index(n - 1, cols() - 1)), QItemSelectionModel::Select);
        else
            sm->clearSelection();
        return;
    }
    const int mr = toModelRow(row);
    if (mr < 0 || mr >= n)
        return;
    sm->select(QItemSelection(m_model->index(mr, 0), m_model->index(mr, cols() - 1)),
               selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

void FlexGrid::invertRowSelection()
{
    m_model->flushPendingRows();
    const int n = m_model->rowCount();
    if (n == 0 || cols() == 0)
        return;
    rebuildSelectionCache();
    QItemSelection inverted;
    int next = 0;  // first row not yet covered
    auto addRun = [&](int first, int last) {
        if (first <= last)
            inverted.append(QItemSelectionRange(m_model->index(first, 0), m_model->index(last, cols() - 1)));
    };
    for (const auto &s : m_selectedSpans) {
        addRun(next, std::min(s.first - 1, n - 1));
        next = std::max(next, s.second + 1);
    }
    addRun(next, n - 1);
    m_view->selectionModel()->select(inverted, QItemSelectionModel::ClearAndSelect);
}

int FlexGrid::row() const
{
    m_model->flushPendingRows();
    const QModelIndex cur = m_view->currentIndex();
    return cur.isValid() ? cur.row() + fixedRows() : fixedRows() - 1;
}

int FlexGrid::col() const
{
    m_model->flushPendingRows();
    const QModelIndex cur = m_view->currentIndex();
    return cur.isValid() ? cur.column() : -1;
}

void FlexGrid::setRow(int row)
{
    m_model->flushPendingRows();
    const int mr = toModelRow(row);
    if (mr < 0 || mr >= m_model->rowCount() || cols() == 0)
        return;
    const int c = std::clamp(col(), 0, cols() - 1);
    m_view->selectionModel()->setCurrentIndex(m_model->index(mr, c), QItemSelectionModel::NoUpdate);
}

void FlexGrid::setCol(int col)
{
    m_model->flushPendingRows();
    if (col < 0 || col >= cols())
        return;
    const QModelIndex cur = m_view->currentIndex();
    const int mr = cur.isValid() ? cur.row() : 0;
    if (mr >= m_model->rowCount())
        return;
    m_view->selectionModel()->setCurrentIndex(m_model->index(mr, col), QItemSelectionModel::NoUpdate);
}

void FlexGrid::select(int row1, int col1, int row2, int col2)
{
    m_model->flushPendingRows();
    if (row2 < 0)
        row2 = row1;
    if (col2 < 0)
        col2 = col1;
    m_selRow1 = std::min(row1, row2);
    m_selRow2 = std::max(row1, row2);
    m_selCol1 = std::min(col1, col2);
    m_selCol2 = std::max(col1, col2);
    const int mr = toModelRow(row1);
    if (mr >= 0 && mr < m_model->rowCount() && col1 >= 0 && col1 < cols())
        m_view->selectionModel()->setCurrentIndex(m_model->index(mr, col1), QItemSelectionModel::NoUpdate);
}

void FlexGrid::sortSelection()
{
    if (m_selRow1 < 0 || m_selCol1 < 0)
        return;
    std::vector<FlexGridModel::SortKey> keys;
    for (int c = m_selCol1; c <= std::min(m_selCol2, cols() - 1); ++c)
        if (m_model->colSort(c) != SortNone)
            keys.push_back({c, m_model->colSort(c)});
    m_model->sortRows(m_selRow1, m_selRow2, keys);
}

void FlexGrid::sortByColumn(int col, SortOrderCode order)
{
    if (col < 0 || col >= cols())
        return;
    const bool asc = order == SortedAscending;
    ColSortSetting setting = asc ? SortGenericAscending : SortGenericDescending;
    switch (colDataType(col)) {
    case TypeText: break;
    case TypeDecimal:
    case TypeBoolean: setting = asc ? SortNumericAscending : SortNumericDescending; break;
    case TypeDate: setting = asc ? SortDateAscending : SortDateDescending; break;
    }
    m_model->sortRows(fixedRows(), rows() - 1, {{col, setting}});
    m_sortedColumn = col;
    m_lastSortOrder = order;
}

void FlexGrid::headerClicked(int section)
{
    if (!m_headerSorting || section < 0 || section >= cols())
        return;
    const SortOrderCode order =
        section == m_sortedColumn && m_lastSortOrder == SortedAscending ? SortedDescending : SortedAscending;
    sortByColumn(section, order);
    emit afterSort(section, order);
}

bool FlexGrid::headerSorting() const { return m_headerSorting; }
void FlexGrid::setHeaderSorting(bool on) { m_headerSorting = on; }
int FlexGrid::sortedColumn() const { return m_sortedColumn; }
int FlexGrid::sortedOrder() const { return m_lastSortOrder; }

// ---------------------------------------------------------------- editing

bool FlexGrid::editable() const { return m_editable; }

void FlexGrid::setEditable(bool editable)
{
    m_editable = editable;
    m_model->setEditable(editable);
    m_view->setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                           QAbstractItemView::AnyKeyPressed
                                     : QAbstractItemView::NoEditTriggers);
}

bool FlexGrid::requestEdit(int row, int col)
{
    if (!m_editable)
        return false;
    bool cancel = false;
    emit beforeEdit(row, col, &cancel);
    return !cancel;
}

void FlexGrid::toggleCheck(int row, int col)
{
    if (!requestEdit(row, col))
        return;
    setCellChecked(row, col, cellChecked(row, col) == Checked ? Unchecked : Checked);
    emit afterEdit(row, col);
}

// ---------------------------------------------------------------- look

QColor FlexGrid::foreColor() const { return m_foreColor; }
QColor FlexGrid::backColor() const { return m_backColor; }
QColor FlexGrid::foreColorSel() const { return m_foreColorSel; }
QColor FlexGrid::backColorSel() const { return m_backColorSel; }
QColor FlexGrid::gridColor() const { return m_gridColor; }
int FlexGrid::gridLines() const { return m_gridLines; }
QPixmap FlexGrid::backPicture() const { return m_backPicture; }

void FlexGrid::setForeColor(const QColor &color)
{
    if (color.isValid())
        m_foreColor = color;
    refreshLook();
}

void FlexGrid::setBackColor(const QColor &color)
{
    if (color.isValid())
        m_backColor = color;
    refreshLook();
}

void FlexGrid::setForeColorSel(const QColor &color)
{
    if (color.isValid())
        m_foreColorSel = color;
    refreshLook();
}

void FlexGrid::setBackColorSel(const QColor &color)
{
    if (color.isValid())
        m_backColorSel = color;
    refreshLook();
}

void FlexGrid::setGridColor(const QColor &color)
{
    if (color.isValid())
        m_gridColor = color;
    refreshLook();
}

void FlexGrid::setGridLines(int code)
{
    m_gridLines = code;
    refreshLook();
}

void FlexGrid::setBackPicture(const QPixmap &picture)
{
    m_backPicture = picture;
    refreshLook();
}

void FlexGrid::refreshLook()
{
    QWidget *vp = m_view->viewport();
    QPalette pal = vp->palette();
    pal.setColor(QPalette::Base, m_backColor);
    vp->setPalette(pal);
    vp->setAutoFillBackground(m_backPicture.isNull());
    vp->update();
    m_view->horizontalHeader()->viewport()->update();
}

QString FlexGrid::dateFormat() const { return m_model->dateFormat(); }
void FlexGrid::setDateFormat(const QString &format) { m_model->setDateFormat(format); }

// ---------------------------------------------------------------- mouse

int FlexGrid::mouseRow() const { return m_mouseRow; }
int FlexGrid::mouseCol() const { return m_mouseCol; }

void FlexGrid::updateMousePosition(int gridRow, int col)
{
    m_mouseRow = gridRow;
    m_mouseCol = col;
}

// ---------------------------------------------------------------- delimited text

QString FlexGrid::clipSeparators() const { return m_clipSeparators; }
void FlexGrid::setClipSeparators(const QString &separators) { m_clipSeparators = separators; }

namespace {

struct Separators {
    QChar col = u'\t';
    QChar row = u'\r';
};

Separators separatorsOf(const QString &clip)
{
    Separators s;
    if (clip.size() >= 1)
        s.col = clip.at(0);
    if (clip.size() >= 2)
        s.row = clip.at(1);
    return s;
}

bool isLineBreak(QChar c) { return c == u'\r' || c == u'\n'; }

}  // namespace

bool FlexGrid::saveGrid(const QString &path, QString *error) const
{
    const Separators sep = separatorsOf(m_clipSeparators);
    platform::DelimitedFormat format;
    format.separator = QString(sep.col).toUtf8();
    format.lineEnd = QString(sep.row).toUtf8();
    QByteArray out;
    QStringList cells;
    for (int r = 0; r < rows(); ++r) {
        cells.clear();
        for (int c = 0; c < cols(); ++c)
            cells << textMatrix(r, c);
        out += platform::DelimitedText::line(cells, format);
    }
    return platform::writeFileChecked(path, out, error);
}

bool FlexGrid::loadGrid(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    auto decode = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decode(bytes);

    const Separators sep = separatorsOf(m_clipSeparators);
    const bool breaksAreRows = isLineBreak(sep.row);
    std::vector<QStringList> lines;
    QStringList current;
    QString cell;
    bool inQuotes = false;
    bool cellStarted = false;  // anything read for the current line
    int widest = 0;
    auto endLine = [&] {
        current.append(cell);
        widest = std::max(widest, int(current.size()));
        lines.push_back(current);
        current.clear();
        cell.clear();
        cellStarted = false;
    };
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        if (inQuotes) {
            if (ch == u'"') {
                if (i + 1 < n && text.at(i + 1) == u'"') {
                    cell.append(u'"');
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                cell.append(ch);
            }
            continue;
        }
        if (ch == u'"' && cell.isEmpty()) {
            inQuotes = true;
            cellStarted = true;
            continue;
        }
        if (ch == sep.col) {
            current.append(cell);
            cell.clear();
            cellStarted = true;
            continue;
        }
        if (ch == sep.row || (breaksAreRows && isLineBreak(ch))) {
            // CR LF is one line break
            if (breaksAreRows && ch == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            endLine();
            continue;
        }
        cell.append(ch);
        cellStarted = true;
    }
    // A last line without its separator still counts; the separator that ends the file does not
    // start another line.
    if (cellStarted || !cell.isEmpty() || !current.isEmpty())
        endLine();
    m_model->replaceAll(lines, lines.empty() ? cols() : widest);
    return true;
}

void FlexGrid::setRowDrag(std::function<QMimeData *(const QList<int> &gridRows)> provider, const QStringList &mimeTypes)
{
    const bool on = bool(provider);
    m_model->setDragProvider(std::move(provider), mimeTypes);
    m_view->setDragEnabled(on);
    m_view->setDragDropMode(on ? QAbstractItemView::DragOnly : QAbstractItemView::NoDragDrop);
    m_view->setDefaultDropAction(Qt::CopyAction);
}

// Appends go to the model straight: through model() every append would announce the one before
// it, and the views would lay out and repaint once per row instead of once per batch.
int FlexGrid::appendRow(const QStringList &cells, const QPixmap &picture0)
{
    return m_model->appendRow(cells, picture0);
}

int FlexGrid::appendValueRow(uint32_t id, const QPixmap &picture0)
{
    return m_model->appendValueRow(id, picture0);
}

// ---------------------------------------------------------------- keys

int FlexGrid::virtualKeyCode(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Menu: return 93;
    default: return 0;
    }
}
