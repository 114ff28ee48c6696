#pragma once
// Storage of the grid control. Every row, the header row included, lives in one vector; a text
// row keeps its cell texts in a single string (lengths first, then the texts) so that a large
// listing costs one allocation per row. A row may instead be kept as values by a
// FlexGridRowValues store, which makes its texts when asked; writing a text into such a row turns
// it into a text row. The Qt model shows the data rows only; the fixed (header) row is served as
// horizontal header data.
//
// Numbering: "grid rows" count the fixed rows (0 = header); model rows are grid rows minus
// fixedRows().

#include "FlexGridRowValues.h"

#include <QAbstractTableModel>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QHash>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class FlexGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Roles {
        PictureAlignmentRole = Qt::UserRole + 1,  // Qt::Alignment of the cell picture
        CellCheckRole,                            // FlexGrid::CellCheck value
        FixedCellRole,                            // true for cells of fixed columns
    };

    struct SortKey {
        int col = 0;
        int setting = 0;  // FlexGrid::ColSortSetting
    };

    explicit FlexGridModel(QObject *parent = nullptr);
    ~FlexGridModel() override;

    // QAbstractItemModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDragActions() const override;

    // What a drag of rows carries: made from the grid rows (ascending, hidden ones left out).
    // No provider: rows cannot be dragged.
    using DragProvider = std::function<QMimeData *(const QList<int> &gridRows)>;
    void setDragProvider(DragProvider provider, QStringList mimeTypes);

    // Shape, in grid rows.
    int gridRows() const { return int(m_rows.size()); }
    void setGridRows(int rows);
    int cols() const { return m_cols; }
    void setCols(int cols);
    int fixedRows() const { return m_fixedRows; }
    void setFixedRows(int fixedRows);
    int fixedCols() const { return m_fixedCols; }
    void setFixedCols(int fixedCols);
    bool setEditable(bool editable);

    // Cells, in grid rows.
    QString text(int row, int col) const;
    // The same text without a copy; valid until the row is next changed (for a row kept as
    // values, until the next call).
    QStringView textView(int row, int col) const;
    void setText(int row, int col, const QString &text);
    QPixmap picture(int row, int col) const;
    void setPicture(int row, int col, const QPixmap &picture);
    Qt::Alignment pictureAlignment(int row, int col) const;
    void setPictureAlignment(int row, int col, Qt::Alignment alignment);
    Qt::Alignment cellAlignment(int row, int col) const;  // 0 when the cell follows its column
    void setCellAlignment(int row, int col, Qt::Alignment alignment);
    int check(int row, int col) const;
    void setCheck(int row, int col, int state);
    QString toolTip(int row, int col) const;
    void setToolTip(int row, int col, const QString &text);  // empty removes it
    bool rowHidden(int row) const;
    void setRowHidden(int row, bool hidden);

    // Columns.
    int colWidth(int col) const;  // twips, -1 = default
    void setColWidth(int col, int twips);
    Qt::Alignment colAlignment(int col) const;
    void setColAlignment(int col, Qt::Alignment alignment);
    int colType(int col) const;
    void setColType(int col, int type);
    bool colHidden(int col) const;
    void setColHidden(int col, bool hidden);
    int colSort(int col) const;
    void setColSort(int col, int setting);
    void moveColumn(int col, int position);

    QString dateFormat() const { return m_dateFormat; }
    void setDateFormat(const QString &format) { m_dateFormat = format; }

    // Announces appended rows to the views now instead of at the next batch.
    void flushPendingRows();

    // The store of rows kept as values (not owned; it must outlive its rows in this model).
    void setRowValues(FlexGridRowValues *values) { m_values = values; }
    FlexGridRowValues *rowValues() const { return m_values; }
    static constexpr uint32_t kTextRow = UINT32_MAX;
    // The store's id of a row kept as values; kTextRow for a text row (or no such row).
    uint32_t valueId(int row) const
    {
        return row >= 0 && row < gridRows() ? m_rows[size_t(row)].values : kTextRow;
    }
    // Appends one data row kept as values by the store under id, with the picture of cell 0.
    int appendValueRow(uint32_t id, const QPixmap &picture0);

    // Appends one data row holding these texts. Views hear of appended rows in batches (at most
    // announceIntervalMs later, or at the next operation that needs them).
    int appendRow(const QStringList &cells, const QPixmap &picture0);
    // Stable sort of grid rows first..last by the keys (leftmost first). Rows move whole; the
    // persistent indexes (selection, cursor) follow them.
    void sortRows(int first, int last, const std::vector<SortKey> &keys);

    // Replaces every row; for loading a file.
    void replaceAll(const std::vector<QStringList> &rows, int cols);

    // Rough heap use of the row storage in bytes (for the benchmark).
    size_t storageBytes() const;

signals:
    void columnLayoutChanged();  // widths, hidden flags or order changed
    void rowHiddenChanged(int gridRow, bool hidden);

private:
    struct CellExtra {
        int16_t col = 0;
        int16_t picture = -1;    // index into m_pictures
        uint16_t picAlign = 0;   // Qt::Alignment
        uint16_t align = 0;      // Qt::Alignment, 0 = column's
        uint8_t check = 0;       // FlexGrid::CellCheck
        int16_t toolTip = -1;    // index into m_toolTips
    };
    struct RowCells {
        QString blob;                   // the texts of a text row, encoded
        std::vector<CellExtra> extras;  // what a few cells carry beyond their text
    };
    // Small, so that a sort moving a million rows moves little: what only some rows have lives
    // apart, behind one pointer.
    struct Row {
        std::unique_ptr<RowCells> cells;
        uint32_t values = kTextRow;  // id in m_values, for a row kept as values
        int16_t picture0 = -1;       // index into m_pictures: the first cell's picture (icons)
        bool hidden = false;

        const QString &blob() const;  // empty for a row without texts of its own
        RowCells &own();               // made when first needed
    };
    struct ColInfo {
        int widthTwips = -1;
        Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
        int type = 0;
        int sort = 0;
        bool hidden = false;
    };

    static QStringView cellOf(const QString &blob, int col);
    static QString withCell(const QString &blob, int col, const QString &text);
    static QString encode(const QStringList &cells, int cols);
    const CellExtra *extra(int row, int col) const;
    CellExtra &extraFor(int row, int col);
    int pictureIndex(const QPixmap &picture);
    void compactPictures();
    bool validCell(int row, int col) const;
    int16_t toolTipIndex(const QString &text);
    void makeTextRow(int row);
    void makeTextRows();
    void appendRowRecord(Row &&r);
    bool buildColumnKeys(int first, int n, const SortKey &key, sortkeys::ColumnKeys &out) const;
    void cellChanged(int row, int col, const QList<int> &roles);
    bool isFixedCol(int col) const { return col < m_fixedCols; }

    std::vector<Row> m_rows;
    std::vector<ColInfo> m_colInfo;
    std::vector<QPixmap> m_pictures;
    QHash<qint64, int> m_pictureByKey;
    // Tooltips repeat a handful of texts over many rows; each distinct text is kept once.
    QStringList m_toolTips;
    QHash<QString, int> m_toolTipIndex;
    void rowsAppended();

    static constexpr int announceIntervalMs = 50;
    QTimer m_flushTimer;
    int m_exposedRows = 0;  // data rows the views know about
    int m_cols = 0;
    int m_fixedRows = 1;
    int m_fixedCols = 0;
    bool m_editable = false;
    QString m_dateFormat;
    DragProvider m_dragProvider;
    FlexGridRowValues *m_values = nullptr;
    mutable QString m_madeText;  // behind textView() of a row kept as values
    QStringList m_dragTypes;
};
