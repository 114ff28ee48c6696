#include "ResultGrid.h"

#include "AppSettings.h"
#include "ColumnFitter.h"
#include "FileAccess.h"
#include "FileNames.h"
#include "FileShell.h"
#include "FlexGridModel.h"
#include "OleColor.h"
#include "Twips.h"

#include <QHeaderView>
#include <QImage>
#include <QLocale>
#include <QMimeData>
#include <QPersistentModelIndex>
#include <QStyle>
#include <QTableView>

#include <algorithm>

namespace {

const char *const headerTexts[] = {"File Name", "Location", "Size", "Modified Date", "Pages"};
const int columnWidths[] = {1500, 2500, 1000, 2200, 1000};
const int resultRowHeightMin = 260;  // room for a 16-pixel icon
const int visibleColumnCount = kResultDataColumns;  // only these follow the visibility list

// Larger than any sensible background tile; a bigger file is not read.
constexpr size_t kMaxPictureBytes = size_t(64) << 20;

// The picture behind the cells, or a null pixmap when the file cannot be used. Only a regular
// file is read, and its opening never waits: a FIFO or device under the name would otherwise
// hold the program before its first window. The stored path keeps any bytes that are not UTF-8.
QPixmap loadBackPicture(const QString &storedPath)
{
    const QByteArray name = platform::pathFromText(storedPath);
    std::string bytes;
    std::string reason;
    if (comrt::ReadRegularFile(std::string(name.constData(), size_t(name.size())), kMaxPictureBytes, &bytes,
                               &reason)
        != comrt::ReadResult::Ok)
        return QPixmap();
    QPixmap picture;
    picture.loadFromData(reinterpret_cast<const uchar *>(bytes.data()), uint(bytes.size()));
    return picture;
}

}  // namespace

ResultGrid::ResultGrid(QWidget *parent) : FlexGrid(parent), m_fitter(new ColumnFitter(*this, {ColFileName, ColLocation}))
{
    setObjectName(QStringLiteral("vsFiles"));
    connect(this, &FlexGrid::afterSort, this, &ResultGrid::onAfterSort);
    connect(this, &FlexGrid::keyDown, this, &ResultGrid::onKeyDown);
    connect(this, &FlexGrid::mouseDown, this, &ResultGrid::onMouseDown);
    setRowDrag([this](const QList<int> &rows) { return fileUriList(rows); }, {uriListType()});
    model()->setRowValues(&m_values);
}

QString ResultGrid::uriListType()
{
    return QStringLiteral("text/uri-list");
}

QMimeData *ResultGrid::fileUriList(const QList<int> &rows) const
{
    // The URLs are made from the file names' own bytes, so a receiver reopens the very files
    // even when their names are not UTF-8. Lines end in CR LF, as the format asks.
    QByteArray list;
    for (int row : rows) {
        const QByteArray path = filePath(row);
        if (path.isEmpty())
            continue;
        list += fileUriFromBytes(path).toLatin1();
        list += "\r\n";
    }
    if (list.isEmpty())
        return nullptr;
    auto *data = new QMimeData;
    data->setData(uriListType(), list);
    return data;
}

void ResultGrid::SetUpResultGrid(const modGlobal::SettingsRecord &settings)
{
    setEditable(false);
    setSelectionMode(SelectionListBox);
    setHeaderSorting(true);
    setRowHeightMin(resultRowHeightMin);
    setFixedCols(0);
    setFixedRows(1);
    setRows(1);
    setCols(ResultColumnCount);

    for (int c = 0; c < ResultColumnCount; ++c)
        setColAlignment(c, Qt::AlignLeft | Qt::AlignVCenter);
    setColAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    setColAlignment(ColPages, Qt::AlignRight | Qt::AlignVCenter);

    for (int c = 0; c < visibleColumnCount; ++c) {
        setTextMatrix(0, c, QString::fromLatin1(headerTexts[c]));
        setColWidth(c, columnWidths[c]);
    }
    setTextMatrix(0, ColFullPath, QString());
    setTextMatrix(0, ColSizeKb, QString());

    setColDataType(ColSize, TypeDecimal);
    setColDataType(ColModifiedDate, TypeDate);
    setDateFormat(modifiedDateFormat());

    setColHidden(ColSizeKb, true);
    setColHidden(ColFullPath, true);

    applyColumnVisibility(settings);
    // The widths above are what the grid keeps; the fitter adjusts them to the grid's width
    // once it is shown.
    setMinimumColumnWidths();
}

void ResultGrid::setMinimumColumnWidths()
{
    // Room for the header text beside the 11-pixel arrow, and for the widest usual cell text.
    const QFontMetrics header = view()->horizontalHeader()->fontMetrics();
    const QFontMetrics cells = view()->fontMetrics();
    const int headerPadding = 11 + 3 + 8 + 2 * view()->style()->pixelMetric(QStyle::PM_HeaderMargin);
    const int cellPadding = 6 + 4;
    const QStringList samples[] = {
        {}, {}, {sizeText(sizeKbText(999999))},
        {modifiedDateText(QDateTime(QDate(2028, 12, 28), QTime(10, 58)))},
        {QStringLiteral("Error"), QStringLiteral("0000000")},
    };
    for (int c = 0; c < visibleColumnCount; ++c) {
        const int forHeader = header.horizontalAdvance(QString::fromLatin1(headerTexts[c])) + headerPadding;
        int forCells = 0;
        for (const QString &sample : samples[c])
            forCells = std::max(forCells, cells.horizontalAdvance(sample) + cellPadding);
        m_fitter->setMinimumWidth(c, std::max({platform::twipsToPixels(columnWidths[c]), forHeader, forCells}));
    }
}

void ResultGrid::ApplyStartupAppearance(const modGlobal::SettingsRecord &settings)
{
    applyLook(settings, false);
}

void ResultGrid::RefreshGrid(const modGlobal::SettingsRecord &settings)
{
    applyLook(settings, true);
    applyColumnVisibility(settings);
}

void ResultGrid::applyLook(const modGlobal::SettingsRecord &settings, bool removeMissingPicture)
{
    if (!settings.BackPicture.isEmpty()) {
        // A picture that cannot be loaded leaves the grid without one.
        setBackPicture(loadBackPicture(settings.BackPicture));
    } else if (removeMissingPicture) {
        setBackPicture(QPixmap());
    }
    setGridLines(settings.ShowGrid == 0 ? int(GridNone) : int(settings.GridStyle));
    const QPalette pal = palette();
    setForeColor(platform::oleToColor(settings.ForeColor, pal));
    setForeColorSel(platform::oleToColor(settings.ForeColorSel, pal));
    setBackColor(platform::oleToColor(settings.BackColor, pal));
    setBackColorSel(platform::oleToColor(settings.BackColorSel, pal));
    setGridColor(platform::oleToColor(settings.GridColor, pal));
}

void ResultGrid::applyColumnVisibility(const modGlobal::SettingsRecord &settings)
{
    // Columns without an entry keep their state; entries past the five data columns have no
    // column to act on (the two hidden key columns always stay hidden).
    const int n = std::min<int>(int(settings.ColumnVisibility.size()), visibleColumnCount);
    bool changed = false;
    for (int k = 0; k < n && k < cols(); ++k) {
        const bool hide = !modGlobal::VisibilityEntryShows(settings.ColumnVisibility.at(k));
        if (hide != colHidden(k)) {
            setColHidden(k, hide);
            changed = true;
        }
    }
    // The columns left share the width at once; a band left by a hidden column would stay
    // until the window is resized.
    if (changed)
        m_fitter->fit();
}

void ResultGrid::SortBy(int col, int order)
{
    if (col < 0 || col >= visibleColumnCount)
        return;
    const SortOrderCode code = order == SortedDescending ? SortedDescending : SortedAscending;
    sortByColumn(col, code);
    emit afterSort(col, code);
}

void ResultGrid::SelectAll()
{
    setIsSelected(-1, true);
}

void ResultGrid::InvertSelection()
{
    invertRowSelection();
}

QList<int> ResultGrid::selectedListedRows() const
{
    QList<int> rows;
    for (int i = 0; i < selectedRows(); ++i) {
        const int row = selectedRow(i);
        if (row > 0 && !rowHidden(row))
            rows << row;
    }
    return rows;
}

int ResultGrid::AppendResultRow(const ResultRow &row)
{
    QStringList cells(ResultColumnCount);
    cells[ColFileName] = row.FileName;
    cells[ColLocation] = row.Location;
    cells[ColSizeKb] = row.SizeKb;
    cells[ColSize] = row.Size.isEmpty() && !row.SizeKb.isEmpty() ? sizeText(row.SizeKb) : row.Size;
    cells[ColModifiedDate] = row.ModifiedDate;
    cells[ColFullPath] = row.FullPath;
    cells[ColPages] = row.Pages;
    // A row added at the end breaks the order the arrow claims: the arrow goes (the sort column
    // and direction are kept, so the owner can sort again when the rows are complete).
    if (m_arrowShown)
        removeSortArrow();
    const int r = appendRow(cells, row.Icon);
    // Why a count failed stays with its row (sorting moves it along), for the tooltip and Properties.
    if (!row.PagesReason.isEmpty())
        setCellToolTip(r, ColPages, row.PagesReason);
    return r;
}

void ResultGrid::ClearRows()
{
    setRows(1);
}

int ResultGrid::AppendFile(const search::CountedFile &file, const QPixmap &icon)
{
    const uint32_t id = m_values.add(file);
    if (id != ResultRows::kNone) {
        if (m_arrowShown)
            removeSortArrow();
        return appendValueRow(id, icon);
    }
    // A path that is not its folder and name joined: kept as the texts it shows.
    ResultRow row = rowTexts(file);
    row.Icon = icon;
    return AppendResultRow(row);
}

ResultRow ResultGrid::rowTexts(const search::CountedFile &file)
{
    ResultRow row;
    row.FileName = platform::pathToDisplay(file.name);
    row.Location = platform::pathToDisplay(file.folder);
    if (file.factsKnown) {
        // 64-bit kilobytes: a file beyond 2 TB still shows its size.
        row.SizeKb = sizeKbText(ResultRows::kilobytes(file.size));
        row.Size = sizeText(row.SizeKb);
        row.ModifiedDate = modifiedDateText(file.modified);
    }
    row.FullPath = platform::pathToText(file.path);
    row.Pages = ResultRows::pagesText(file.type, file.pages);
    row.PagesReason = ResultRows::pagesReason(file.type, file.pages);
    return row;
}

QByteArray ResultGrid::filePath(int row) const
{
    const uint32_t id = model()->valueId(row);
    if (id != FlexGridModel::kTextRow)
        return m_values.path(id);
    return platform::pathFromText(textMatrix(row, ColFullPath));
}

ResultGrid::PageFacts ResultGrid::pageFacts(int row) const
{
    PageFacts facts;
    const uint32_t id = model()->valueId(row);
    if (id != FlexGridModel::kTextRow) {
        facts.type = m_values.type(id);
        if (facts.type != search::FileType::Other && m_values.pages(id) >= 0)
            facts.pages = m_values.pages(id);
        return facts;
    }
    // A row written as text has only its texts to go by.
    const QStringView pagesText = model()->textView(row, ColPages);
    if (pagesText.isEmpty() || !pagesText.front().isDigit())
        return facts;  // "Error", or not counted
    bool ok = false;
    const qint64 pages = pagesText.toLongLong(&ok);
    if (!ok)
        return facts;
    facts.pages = pages;
    facts.type = platform::pageFileTypeOf(model()->textView(row, ColFileName));
    return facts;
}

QString ResultGrid::pagesWithReason(int row) const
{
    return pagesWithReason(textMatrix(row, ColPages), cellToolTip(row, ColPages));
}

size_t ResultGrid::storageBytes() const
{
    return model()->storageBytes() + m_values.storageBytes();
}

QString ResultGrid::pagesWithReason(const QString &pages, const QString &reason)
{
    if (reason.isEmpty())
        return pages;
    return pages.isEmpty() ? reason : pages + QStringLiteral(" (") + reason + QStringLiteral(")");
}

QPixmap ResultGrid::sortArrow(bool ascending)
{
    QImage img(11, 4, QImage::Format_RGB32);
    img.fill(QColor(192, 192, 255));
    const QRgb blue = qRgb(0, 0, 255);
    for (int y = 0; y < 4; ++y) {
        const int half = ascending ? y : 3 - y;  // up: 1 pixel at the top, 7 at the bottom
        for (int x = 5 - half; x <= 5 + half; ++x)
            img.setPixel(x, y, blue);
    }
    return QPixmap::fromImage(img);
}

void ResultGrid::removeSortArrow()
{
    for (int c = 0; c < cols(); ++c)
        setCellPicture(0, c, QPixmap());
    m_arrowShown = false;
}

void ResultGrid::SortAgain()
{
    if (sortedColumn() >= 0)
        SortBy(sortedColumn(), sortedOrder());
}

void ResultGrid::onAfterSort(int col, int order)
{
    removeSortArrow();
    setCellPicture(0, col, sortArrow(order == SortedAscending));
    setCellPictureAlignment(0, col, Qt::AlignRight | Qt::AlignVCenter);
    m_arrowShown = true;

    if (col == ColSize && !allRowsKeptAsValues()) {
        // The size text carries a unit and digit groups; the kilobyte column is the true key.
        // (Rows kept as values were sorted on their kilobytes already.)
        // The cursor stays on the file it was on.
        const QPersistentModelIndex current = view()->currentIndex();
        setColSort(ColSizeKb, order == SortedAscending ? SortNumericAscending : SortNumericDescending);
        select(1, ColSizeKb, rows() - 1, ColSizeKb);
        sortSelection();
        if (current.isValid())
            view()->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        setFocus();
    }
}

bool ResultGrid::allRowsKeptAsValues() const
{
    for (int r = fixedRows(); r < rows(); ++r)
        if (model()->valueId(r) == FlexGridModel::kTextRow)
            return false;
    return true;
}

void ResultGrid::onKeyDown(int keyCode, Qt::KeyboardModifiers modifiers, bool *handled)
{
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (keyCode == 13 && held == Qt::NoModifier) {
        *handled = true;
        emit openRequested();
    } else if (keyCode == 'C' && held == Qt::ControlModifier) {
        *handled = true;
        emit copyRequested();
    } else if (keyCode == 93) {
        *handled = true;
        emit popupRequested(mapToGlobal(QPoint(0, 0)));
    } else if (keyCode == 46) {
        *handled = true;
        emit deleteRequested();
    }
}

void ResultGrid::onMouseDown(int button, Qt::KeyboardModifiers, QPoint pos)
{
    if (button == 2 && mouseRow() == 0 && fixedRows() > 0) {
        emit headerMenuRequested(mapToGlobal(pos));
        return;
    }
    if (button != 2 || mouseRow() <= 0 || mouseCol() < 0)
        return;
    // As in a file manager: a right click on a row outside the selection makes that row the
    // selection; inside it the selection stays. Either way the row becomes current, so the menu
    // acts on the file that was clicked.
    const int r = mouseRow();
    if (!isSelected(r)) {
        setIsSelected(-1, false);
        setIsSelected(r, true);
    }
    const QModelIndex idx = view()->model()->index(r - fixedRows(), mouseCol());
    view()->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
    emit popupRequested(mapToGlobal(pos));
}
