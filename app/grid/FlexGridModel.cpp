#include "FlexGridModel.h"

#include "FlexGridEnums.h"
#include "SortKeys.h"

#include <algorithm>
#include <numeric>

namespace {

// Cell lengths are stored in front of the texts, one UTF-16 unit each when below 0x8000, else two.
int readLength(const QChar *p, int &pos)
{
    const ushort first = p[pos++].unicode();
    if (!(first & 0x8000))
        return first;
    const ushort second = p[pos++].unicode();
    return (int(first & 0x7FFF) << 16) | second;
}

void appendLength(QString &out, int length)
{
    if (length < 0x8000) {
        out.append(QChar(ushort(length)));
    } else {
        out.append(QChar(ushort(0x8000 | (length >> 16))));
        out.append(QChar(ushort(length & 0xFFFF)));
    }
}

}  // namespace

FlexGridModel::FlexGridModel(QObject *parent) : QAbstractTableModel(parent)
{
    m_rows.resize(1);
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(announceIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flushPendingRows(); });
}

void FlexGridModel::flushPendingRows()
{
    m_flushTimer.stop();
    const int total = std::max(0, gridRows() - m_fixedRows);
    if (total <= m_exposedRows)
        return;
    beginInsertRows({}, m_exposedRows, total - 1);
    m_exposedRows = total;
    endInsertRows();
}

void FlexGridModel::rowsAppended()
{
    // Views learn about appended rows in batches: a search appends one row per event-loop turn,
    // and a view that lays out and repaints after every single row spends more time on that
    // than on the search itself.
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

FlexGridModel::~FlexGridModel() = default;

// ---------------------------------------------------------------- row text encoding

QStringView FlexGridModel::cellOf(const QString &blob, int col)
{
    if (blob.isEmpty())
        return {};
    const QChar *p = blob.constData();
    int pos = 0;
    const int count = readLength(p, pos);
    if (col >= count)
        return {};
    int offset = 0;
    int length = 0;
    for (int c = 0; c <= col; ++c) {
        offset += length;
        length = readLength(p, pos);
    }
    // Skip the remaining lengths to reach the start of the texts.
    for (int c = col + 1; c < count; ++c)
        readLength(p, pos);
    return QStringView(p + pos + offset, length);
}

QString FlexGridModel::encode(const QStringList &cells, int cols)
{
    const int count = std::min<int>(int(cells.size()), cols);
    int last = count;
    while (last > 0 && cells.at(last - 1).isEmpty())
        --last;
    if (last == 0)
        return {};
    qsizetype total = 1 + last;
    for (int c = 0; c < last; ++c)
        total += cells.at(c).size() + 1;
    QString out;
    out.reserve(total);
    appendLength(out, last);
    for (int c = 0; c < last; ++c)
        appendLength(out, int(cells.at(c).size()));
    for (int c = 0; c < last; ++c)
        out.append(cells.at(c));
    return out;
}

QString FlexGridModel::withCell(const QString &blob, int col, const QString &text)
{
    QStringList cells;
    if (!blob.isEmpty()) {
        const QChar *p = blob.constData();
        int pos = 0;
        const int count = readLength(p, pos);
        std::vector<int> lengths(static_cast<size_t>(count));
        for (int c = 0; c < count; ++c)
            lengths[size_t(c)] = readLength(p, pos);
        for (int c = 0; c < count; ++c) {
            cells.append(QString(p + pos, lengths[size_t(c)]));
            pos += lengths[size_t(c)];
        }
    }
    while (cells.size() <= col)
        cells.append(QString());
    cells[col] = text;
    return encode(cells, int(cells.size()));
}

// ---------------------------------------------------------------- Qt model

int FlexGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_exposedRows;
}

int FlexGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QVariant FlexGridModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row() + m_fixedRows;
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text(row, col);
    case Qt::DecorationRole: {
        QPixmap pic = picture(row, col);
        return pic.isNull() ? QVariant() : QVariant(pic);
    }
    case Qt::TextAlignmentRole: {
        Qt::Alignment a = cellAlignment(row, col);
        return int(a ? a : colAlignment(col));
    }
    case PictureAlignmentRole:
        return int(pictureAlignment(row, col));
    case CellCheckRole:
        return check(row, col);
    case Qt::CheckStateRole: {
        const int state = check(row, col);
        if (state == FlexGridEnums::NoCheckbox)
            return {};
        return int(state == FlexGridEnums::Checked ? Qt::Checked
                   : state == FlexGridEnums::Grayed ? Qt::PartiallyChecked
                                               : Qt::Unchecked);
    }
    case FixedCellRole:
        return isFixedCol(col);
    case Qt::ToolTipRole: {
        const QString tip = toolTip(row, col);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    default:
        return {};
    }
}

QVariant FlexGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole && section >= 0 && section < rowCount())
            return section + m_fixedRows;
        return {};
    }
    if (section < 0 || section >= m_cols)
        return {};
    if (m_fixedRows == 0) {
        return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    }
    const int headerRow = m_fixedRows - 1;
    switch (role) {
    case Qt::DisplayRole:
        return text(headerRow, section);
    case Qt::DecorationRole: {
        QPixmap pic = picture(headerRow, section);
        return pic.isNull() ? QVariant() : QVariant(pic);
    }
    case Qt::TextAlignmentRole: {
        Qt::Alignment a = cellAlignment(headerRow, section);
        return int(a ? a : colAlignment(section));
    }
    case PictureAlignmentRole:
        return int(pictureAlignment(headerRow, section));
    default:
        return {};
    }
}

Qt::ItemFlags FlexGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (isFixedCol(index.column()))
        return Qt::ItemIsEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_dragProvider)
        f |= Qt::ItemIsDragEnabled;
    if (m_editable) {
        if (colType(index.column()) == FlexGridEnums::TypeBoolean ||
            check(index.row() + m_fixedRows, index.column()) != FlexGridEnums::NoCheckbox)
            f |= Qt::ItemIsUserCheckable;
        else
            f |= Qt::ItemIsEditable;
    }
    return f;
}

bool FlexGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const int row = index.row() + m_fixedRows;
    if (role == Qt::EditRole) {
        setText(row, index.column(), value.toString());
        return true;
    }
    if (role == Qt::CheckStateRole) {
        const int v = value.toInt();
        setCheck(row, index.column(),
                 v == Qt::Checked ? FlexGridEnums::Checked : v == Qt::PartiallyChecked ? FlexGridEnums::Grayed : FlexGridEnums::Unchecked);
        return true;
    }
    return false;
}

void FlexGridModel::setDragProvider(DragProvider provider, QStringList mimeTypes)
{
    m_dragProvider = std::move(provider);
    m_dragTypes = std::move(mimeTypes);
}

QStringList FlexGridModel::mimeTypes() const
{
    return m_dragTypes;
}

Qt::DropActions FlexGridModel::supportedDragActions() const
{
    // Copy only: a receiver that moved the files would leave the grid listing files that are gone.
    return Qt::CopyAction;
}

QMimeData *FlexGridModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_dragProvider)
        return nullptr;
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (index.isValid() && index.model() == this)
            rows << index.row() + m_fixedRows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([this](int row) { return rowHidden(row); });
    if (rows.isEmpty())
        return nullptr;
    return m_dragProvider(rows);
}

bool FlexGridModel::setEditable(bool editable)
{
    if (m_editable == editable)
        return false;
    m_editable = editable;
    if (rowCount() > 0 && m_cols > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, m_cols - 1));
    return true;
}

// ---------------------------------------------------------------- shape

void FlexGridModel::setGridRows(int rows)
{
    rows = std::max(0, rows);
    const int oldRows = gridRows();
    if (rows == oldRows)
        return;
    if (rows > oldRows) {
        m_rows.resize(size_t(rows));
        if (rows > m_fixedRows)
            rowsAppended();
        if (oldRows < m_fixedRows && m_cols > 0)
            emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
    } else {
        flushPendingRows();
        const int oldModel = rowCount();
        const int newModel = std::max(0, rows - m_fixedRows);
        if (newModel < oldModel)
            beginRemoveRows({}, newModel, oldModel - 1);
        m_rows.resize(size_t(rows));
        m_exposedRows = newModel;
        if (rows <= m_fixedRows) {
            compactPictures();
            if (m_values)
                m_values->clear();
        }
        if (newModel < oldModel)
            endRemoveRows();
        if (rows < m_fixedRows && m_cols > 0)
            emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
    }
}

void FlexGridModel::setCols(int cols)
{
    cols = std::clamp(cols, 0, 0x7000);
    if (cols == m_cols)
        return;
    flushPendingRows();
    if (cols > m_cols) {
        beginInsertColumns({}, m_cols, cols - 1);
        m_cols = cols;
        m_colInfo.resize(size_t(cols));
        endInsertColumns();
    } else {
        beginRemoveColumns({}, cols, m_cols - 1);
        makeTextRows();  // the store's columns would no longer match
        m_cols = cols;
        m_colInfo.resize(size_t(cols));
        // Cells beyond the new width are gone, as in any table that loses columns.
        for (Row &r : m_rows) {
            if (!r.cells)
                continue;
            QString &blob = r.cells->blob;
            if (!blob.isEmpty()) {
                const QChar *p = blob.constData();
                int pos = 0;
                if (readLength(p, pos) > cols) {
                    QStringList cells;
                    for (int c = 0; c < cols; ++c)
                        cells.append(cellOf(blob, c).toString());
                    blob = encode(cells, cols);
                }
            }
            auto &extras = r.cells->extras;
            extras.erase(std::remove_if(extras.begin(), extras.end(), [cols](const CellExtra &e) { return e.col >= cols; }),
                         extras.end());
        }
        endRemoveColumns();
    }
    emit columnLayoutChanged();
}

void FlexGridModel::setFixedRows(int fixedRows)
{
    fixedRows = std::clamp(fixedRows, 0, 1);
    if (fixedRows == m_fixedRows)
        return;
    beginResetModel();
    m_flushTimer.stop();
    m_fixedRows = fixedRows;
    if (gridRows() < m_fixedRows)
        m_rows.resize(size_t(m_fixedRows));
    m_exposedRows = gridRows() - m_fixedRows;
    endResetModel();
}

void FlexGridModel::setFixedCols(int fixedCols)
{
    fixedCols = std::max(0, fixedCols);
    if (fixedCols == m_fixedCols)
        return;
    m_fixedCols = fixedCols;
    if (rowCount() > 0 && m_cols > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, m_cols - 1));
}

// ---------------------------------------------------------------- cells

bool FlexGridModel::validCell(int row, int col) const
{
    return row >= 0 && row < gridRows() && col >= 0 && col < m_cols;
}

void FlexGridModel::cellChanged(int row, int col, const QList<int> &roles)
{
    if (row < m_fixedRows) {
        emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    if (row - m_fixedRows >= m_exposedRows)
        return;  // not announced yet; views read it when it is
    const QModelIndex i = index(row - m_fixedRows, col);
    emit dataChanged(i, i, roles);
}

const QString &FlexGridModel::Row::blob() const
{
    static const QString none;
    return cells ? cells->blob : none;
}

FlexGridModel::RowCells &FlexGridModel::Row::own()
{
    if (!cells)
        cells = std::make_unique<RowCells>();
    return *cells;
}

QString FlexGridModel::text(int row, int col) const
{
    if (!validCell(row, col))
        return {};
    const Row &r = m_rows[size_t(row)];
    if (r.values != kTextRow && m_values)
        return m_values->text(r.values, col);
    return cellOf(r.blob(), col).toString();
}

QStringView FlexGridModel::textView(int row, int col) const
{
    if (!validCell(row, col))
        return {};
    const Row &r = m_rows[size_t(row)];
    if (r.values != kTextRow && m_values) {
        m_madeText = m_values->text(r.values, col);
        return m_madeText;
    }
    return cellOf(r.blob(), col);
}

void FlexGridModel::makeTextRow(int row)
{
    Row &r = m_rows[size_t(row)];
    if (r.values == kTextRow)
        return;
    const uint32_t id = r.values;
    r.values = kTextRow;
    if (!m_values)
        return;
    QStringList cells;
    for (int c = 0; c < m_cols; ++c) {
        cells.append(m_values->text(id, c));
        // A tooltip set on the cell stays; one the store made is kept as the cell's own.
        const QString tip = m_values->toolTip(id, c);
        const CellExtra *e = extra(row, c);
        if (!tip.isEmpty() && (!e || e->toolTip < 0))
            extraFor(row, c).toolTip = toolTipIndex(tip);
    }
    r.own().blob = encode(cells, m_cols);
}

void FlexGridModel::makeTextRows()
{
    for (int row = 0; row < gridRows(); ++row)
        makeTextRow(row);
}

void FlexGridModel::setText(int row, int col, const QString &text)
{
    if (!validCell(row, col))
        return;
    if (m_rows[size_t(row)].values != kTextRow) {
        if (this->text(row, col) == text)
            return;
        makeTextRow(row);
    }
    Row &r = m_rows[size_t(row)];
    if (cellOf(r.blob(), col) == text)
        return;
    QString changed = withCell(r.blob(), col, text);
    r.own().blob = std::move(changed);
    cellChanged(row, col, {Qt::DisplayRole, Qt::EditRole});
}

const FlexGridModel::CellExtra *FlexGridModel::extra(int row, int col) const
{
    if (!validCell(row, col))
        return nullptr;
    const Row &r = m_rows[size_t(row)];
    if (!r.cells)
        return nullptr;
    for (const CellExtra &e : r.cells->extras)
        if (e.col == col)
            return &e;
    return nullptr;
}

FlexGridModel::CellExtra &FlexGridModel::extraFor(int row, int col)
{
    auto &extras = m_rows[size_t(row)].own().extras;
    for (CellExtra &e : extras)
        if (e.col == col)
            return e;
    CellExtra e;
    e.col = int16_t(col);
    extras.push_back(e);
    return extras.back();
}

int FlexGridModel::pictureIndex(const QPixmap &picture)
{
    // Many rows share one icon; keep one copy per distinct pixmap.
    const qint64 key = picture.cacheKey();
    auto it = m_pictureByKey.constFind(key);
    if (it != m_pictureByKey.constEnd())
        return it.value();
    if (m_pictures.size() >= 0x7FFF)
        compactPictures();
    if (m_pictures.size() >= 0x7FFF)
        return -1;
    m_pictures.push_back(picture);
    const int idx = int(m_pictures.size()) - 1;
    m_pictureByKey.insert(key, idx);
    return idx;
}

void FlexGridModel::compactPictures()
{
    std::vector<int> remap(m_pictures.size(), -1);
    std::vector<QPixmap> kept;
    QHash<qint64, int> byKey;
    auto keep = [&](int16_t &index) {
        if (index < 0)
            return;
        int &m = remap[size_t(index)];
        if (m < 0) {
            kept.push_back(m_pictures[size_t(index)]);
            m = int(kept.size()) - 1;
            byKey.insert(kept.back().cacheKey(), m);
        }
        index = int16_t(m);
    };
    for (Row &r : m_rows) {
        keep(r.picture0);
        if (r.cells)
            for (CellExtra &e : r.cells->extras)
                keep(e.picture);
    }
    m_pictures.swap(kept);
    m_pictureByKey.swap(byKey);
}

QPixmap FlexGridModel::picture(int row, int col) const
{
    if (col == 0 && validCell(row, col) && m_rows[size_t(row)].picture0 >= 0)
        return m_pictures[size_t(m_rows[size_t(row)].picture0)];
    const CellExtra *e = extra(row, col);
    if (!e || e->picture < 0)
        return {};
    return m_pictures[size_t(e->picture)];
}

void FlexGridModel::setPicture(int row, int col, const QPixmap &picture)
{
    if (!validCell(row, col))
        return;
    if (col == 0) {
        // The first cell's picture lives in the row itself: every listed file has one.
        int16_t &slot = m_rows[size_t(row)].picture0;
        const int16_t idx = picture.isNull() ? int16_t(-1) : int16_t(pictureIndex(picture));
        if (const CellExtra *e = extra(row, col); e && e->picture >= 0)
            extraFor(row, col).picture = -1;
        else if (slot == idx)
            return;
        slot = idx;
        cellChanged(row, col, {Qt::DecorationRole});
        return;
    }
    if (picture.isNull()) {
        const CellExtra *e = extra(row, col);
        if (!e || e->picture < 0)
            return;
        extraFor(row, col).picture = -1;
    } else {
        const int idx = pictureIndex(picture);
        extraFor(row, col).picture = int16_t(idx);
    }
    cellChanged(row, col, {Qt::DecorationRole});
}

Qt::Alignment FlexGridModel::pictureAlignment(int row, int col) const
{
    const CellExtra *e = extra(row, col);
    if (!e || !e->picAlign)
        return Qt::AlignLeft | Qt::AlignVCenter;
    return Qt::Alignment(e->picAlign);
}

void FlexGridModel::setPictureAlignment(int row, int col, Qt::Alignment alignment)
{
    if (!validCell(row, col))
        return;
    extraFor(row, col).picAlign = uint16_t(alignment);
    cellChanged(row, col, {PictureAlignmentRole});
}

Qt::Alignment FlexGridModel::cellAlignment(int row, int col) const
{
    const CellExtra *e = extra(row, col);
    return e ? Qt::Alignment(e->align) : Qt::Alignment();
}

void FlexGridModel::setCellAlignment(int row, int col, Qt::Alignment alignment)
{
    if (!validCell(row, col))
        return;
    extraFor(row, col).align = uint16_t(alignment);
    cellChanged(row, col, {Qt::TextAlignmentRole});
}

int FlexGridModel::check(int row, int col) const
{
    const CellExtra *e = extra(row, col);
    if (e && e->check)
        return e->check;
    if (col >= 0 && col < m_cols && row >= m_fixedRows && colType(col) == FlexGridEnums::TypeBoolean)
        return FlexGridEnums::Unchecked;
    return FlexGridEnums::NoCheckbox;
}

void FlexGridModel::setCheck(int row, int col, int state)
{
    if (!validCell(row, col) || state < 0 || state > FlexGridEnums::Grayed)
        return;
    extraFor(row, col).check = uint8_t(state);
    cellChanged(row, col, {Qt::CheckStateRole, CellCheckRole});
}

QString FlexGridModel::toolTip(int row, int col) const
{
    const CellExtra *e = extra(row, col);
    if (e && e->toolTip >= 0)
        return m_toolTips.at(e->toolTip);
    if (validCell(row, col) && m_values && m_rows[size_t(row)].values != kTextRow)
        return m_values->toolTip(m_rows[size_t(row)].values, col);
    return {};
}

int16_t FlexGridModel::toolTipIndex(const QString &text)
{
    auto it = m_toolTipIndex.constFind(text);
    if (it != m_toolTipIndex.constEnd())
        return int16_t(it.value());
    if (m_toolTips.size() >= 0x7FFF)
        return -1;
    m_toolTips.append(text);
    const auto idx = int16_t(m_toolTips.size() - 1);
    m_toolTipIndex.insert(text, idx);
    return idx;
}

void FlexGridModel::setToolTip(int row, int col, const QString &text)
{
    if (!validCell(row, col))
        return;
    // A row kept as values may make its own tooltip; the one set here replaces it.
    makeTextRow(row);
    int16_t idx = -1;
    if (!text.isEmpty()) {
        idx = toolTipIndex(text);
    } else if (const CellExtra *e = extra(row, col); !e || e->toolTip < 0) {
        return;
    }
    extraFor(row, col).toolTip = idx;
    cellChanged(row, col, {Qt::ToolTipRole});
}

bool FlexGridModel::rowHidden(int row) const
{
    return row >= 0 && row < gridRows() && m_rows[size_t(row)].hidden;
}

void FlexGridModel::setRowHidden(int row, bool hidden)
{
    if (row < m_fixedRows || row >= gridRows())
        return;
    if (m_rows[size_t(row)].hidden == hidden)
        return;
    flushPendingRows();
    m_rows[size_t(row)].hidden = hidden;
    emit rowHiddenChanged(row, hidden);
}

// ---------------------------------------------------------------- columns

int FlexGridModel::colWidth(int col) const
{
    return col >= 0 && col < m_cols ? m_colInfo[size_t(col)].widthTwips : -1;
}

void FlexGridModel::setColWidth(int col, int twips)
{
    if (col < 0 || col >= m_cols)
        return;
    m_colInfo[size_t(col)].widthTwips = std::max(-1, twips);
    emit columnLayoutChanged();
}

Qt::Alignment FlexGridModel::colAlignment(int col) const
{
    return col >= 0 && col < m_cols ? m_colInfo[size_t(col)].align : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void FlexGridModel::setColAlignment(int col, Qt::Alignment alignment)
{
    if (col < 0 || col >= m_cols)
        return;
    m_colInfo[size_t(col)].align = alignment;
    if (rowCount() > 0)
        emit dataChanged(index(0, col), index(rowCount() - 1, col), {Qt::TextAlignmentRole});
    emit headerDataChanged(Qt::Horizontal, col, col);
}

int FlexGridModel::colType(int col) const
{
    return col >= 0 && col < m_cols ? m_colInfo[size_t(col)].type : 0;
}

void FlexGridModel::setColType(int col, int type)
{
    if (col < 0 || col >= m_cols)
        return;
    m_colInfo[size_t(col)].type = type;
    if (rowCount() > 0)
        emit dataChanged(index(0, col), index(rowCount() - 1, col));
}

bool FlexGridModel::colHidden(int col) const
{
    return col >= 0 && col < m_cols && m_colInfo[size_t(col)].hidden;
}

void FlexGridModel::setColHidden(int col, bool hidden)
{
    if (col < 0 || col >= m_cols || m_colInfo[size_t(col)].hidden == hidden)
        return;
    m_colInfo[size_t(col)].hidden = hidden;
    emit columnLayoutChanged();
}

int FlexGridModel::colSort(int col) const
{
    return col >= 0 && col < m_cols ? m_colInfo[size_t(col)].sort : 0;
}

void FlexGridModel::setColSort(int col, int setting)
{
    if (col >= 0 && col < m_cols)
        m_colInfo[size_t(col)].sort = setting;
}

void FlexGridModel::moveColumn(int col, int position)
{
    if (col < 0 || col >= m_cols)
        return;
    position = std::clamp(position, 0, m_cols - 1);
    if (position == col)
        return;
    // beginMoveColumns wants the destination as "insert before" in the old numbering.
    flushPendingRows();
    const int dest = position > col ? position + 1 : position;
    beginMoveColumns({}, col, col, {}, dest);
    makeTextRows();  // the store's columns keep their order
    auto moveOne = [&](auto &vec) {
        auto item = std::move(vec[size_t(col)]);
        vec.erase(vec.begin() + col);
        vec.insert(vec.begin() + position, std::move(item));
    };
    moveOne(m_colInfo);
    for (Row &r : m_rows) {
        // The first cell's picture moves like any other cell's, and whatever becomes the first
        // cell brings its own.
        if (r.picture0 >= 0) {
            auto &extras = r.own().extras;
            CellExtra *e0 = nullptr;
            for (CellExtra &e : extras)
                if (e.col == 0)
                    e0 = &e;
            if (!e0) {
                extras.push_back(CellExtra{});
                e0 = &extras.back();
            }
            e0->picture = r.picture0;
            r.picture0 = -1;
        }
        if (!r.cells)
            continue;
        QString &blob = r.cells->blob;
        if (!blob.isEmpty()) {
            QStringList cells;
            for (int c = 0; c < m_cols; ++c)
                cells.append(cellOf(blob, c).toString());
            cells.move(col, position);
            blob = encode(cells, m_cols);
        }
        for (CellExtra &e : r.cells->extras) {
            int c = e.col;
            if (c == col)
                c = position;
            else if (col < position && c > col && c <= position)
                --c;
            else if (position < col && c >= position && c < col)
                ++c;
            e.col = int16_t(c);
        }
        for (CellExtra &e : r.cells->extras) {
            if (e.col == 0 && e.picture >= 0) {
                r.picture0 = e.picture;
                e.picture = -1;
            }
        }
    }
    endMoveColumns();
    emit columnLayoutChanged();
}

// ---------------------------------------------------------------- bulk operations

void FlexGridModel::appendRowRecord(Row &&r)
{
    if (gridRows() < m_fixedRows)
        m_rows.resize(size_t(m_fixedRows));
    m_rows.push_back(std::move(r));
    rowsAppended();
}

int FlexGridModel::appendRow(const QStringList &cells, const QPixmap &picture0)
{
    Row r;
    r.own().blob = encode(cells, m_cols);
    if (!picture0.isNull() && m_cols > 0)
        r.picture0 = int16_t(pictureIndex(picture0));
    appendRowRecord(std::move(r));
    return gridRows() - 1;
}

int FlexGridModel::appendValueRow(uint32_t id, const QPixmap &picture0)
{
    Row r;
    r.values = id;
    if (!picture0.isNull() && m_cols > 0)
        r.picture0 = int16_t(pictureIndex(picture0));
    appendRowRecord(std::move(r));
    return gridRows() - 1;
}

bool FlexGridModel::buildColumnKeys(int first, int n, const SortKey &k, sortkeys::ColumnKeys &out) const
{
    if (k.col < 0 || k.col >= m_cols || k.setting == FlexGridEnums::SortNone)
        return false;
    const bool boolean = colType(k.col) == FlexGridEnums::TypeBoolean;
    // Rows kept as values sort on their values when every row of the range is one.
    if (m_values && !boolean) {
        std::vector<uint32_t> ids(static_cast<size_t>(n));
        bool allValues = true;
        for (int i = 0; i < n && allValues; ++i) {
            ids[size_t(i)] = m_rows[size_t(first + i)].values;
            allValues = ids[size_t(i)] != kTextRow;
        }
        if (allValues && m_values->sortKeys(ids, k.col, k.setting, m_dateFormat, out))
            return true;
    }
    QString made;
    auto textAt = [&](int i) -> QStringView {
        const Row &r = m_rows[size_t(first + i)];
        if (boolean)
            return check(first + i, k.col) == FlexGridEnums::Checked ? QStringView(u"1") : QStringView(u"0");
        if (r.values != kTextRow && m_values) {
            made = m_values->text(r.values, k.col);
            return made;
        }
        return cellOf(r.blob(), k.col);
    };
    out = sortkeys::buildKeys(n, textAt, k.setting, m_dateFormat);
    return true;
}

void FlexGridModel::sortRows(int first, int last, const std::vector<SortKey> &keys)
{
    flushPendingRows();
    first = std::max(first, m_fixedRows);
    last = std::min(last, gridRows() - 1);
    if (last - first < 1 || keys.empty())
        return;
    const int n = last - first + 1;

    std::vector<sortkeys::ColumnKeys> columnKeys;
    columnKeys.reserve(keys.size());
    for (const SortKey &k : keys) {
        sortkeys::ColumnKeys ck;
        if (buildColumnKeys(first, n, k, ck))
            columnKeys.push_back(std::move(ck));
    }
    if (columnKeys.empty())
        return;
    // Rows already in order (a second sort by an equivalent column) stay as they are.
    bool inOrder = true;
    for (int i = 1; i < n && inOrder; ++i) {
        for (const auto &ck : columnKeys) {
            const int c = sortkeys::compare(ck, i - 1, i);
            if (c != 0) {
                inOrder = c < 0;
                break;
            }
        }
    }
    if (inOrder)
        return;
    std::vector<int> order = columnKeys.size() == 1 ? sortkeys::stableOrder(columnKeys.front()) : std::vector<int>();
    if (columnKeys.size() > 1) {
        order.resize(size_t(n));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            for (const auto &ck : columnKeys) {
                const int c = sortkeys::compare(ck, a, b);
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }
    bool identity = true;
    for (int i = 0; i < n && identity; ++i)
        identity = order[size_t(i)] == i;
    if (identity)
        return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Every row moves once, into a new vector in its new order.
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (int i = 0; i < first; ++i)
        sorted.push_back(std::move(m_rows[size_t(i)]));
    for (int i = 0; i < n; ++i)
        sorted.push_back(std::move(m_rows[size_t(first + order[size_t(i)])]));
    for (size_t i = size_t(last) + 1; i < m_rows.size(); ++i)
        sorted.push_back(std::move(m_rows[i]));
    m_rows.swap(sorted);

    // Selection and cursor are persistent indexes: move each with its row.
    std::vector<int> newPos(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        newPos[size_t(order[size_t(i)])] = i;
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    const int firstModel = first - m_fixedRows;
    const int lastModel = last - m_fixedRows;
    for (const QModelIndex &idx : from) {
        const int r = idx.row();
        if (r < firstModel || r > lastModel)
            to.append(idx);
        else
            to.append(index(firstModel + newPos[size_t(r - firstModel)], idx.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FlexGridModel::replaceAll(const std::vector<QStringList> &rows, int cols)
{
    beginResetModel();
    m_cols = std::clamp(cols, 0, 0x7000);
    m_colInfo.resize(size_t(m_cols));
    m_rows.clear();
    if (m_values)
        m_values->clear();
    m_rows.reserve(std::max(rows.size(), size_t(m_fixedRows)));
    for (const QStringList &cells : rows) {
        Row r;
        r.own().blob = encode(cells, m_cols);
        m_rows.push_back(std::move(r));
    }
    if (gridRows() < m_fixedRows)
        m_rows.resize(size_t(m_fixedRows));
    m_flushTimer.stop();
    m_exposedRows = gridRows() - m_fixedRows;
    compactPictures();
    endResetModel();
    emit columnLayoutChanged();
}

size_t FlexGridModel::storageBytes() const
{
    size_t bytes = m_rows.capacity() * sizeof(Row);
    for (const Row &r : m_rows) {
        if (!r.cells)
            continue;
        bytes += sizeof(RowCells) + 16;  // + the allocation's header
        if (!r.cells->blob.isEmpty())
            bytes += size_t(r.cells->blob.capacity()) * sizeof(QChar) + 16;  // + array header
        bytes += r.cells->extras.capacity() * sizeof(CellExtra);
    }
    return bytes;
}
