#pragma once
// Row count and page totals of the selected rows of the result grid, for the status bar. Kept up
// to date from the selection's own change notices, so a change costs the rows it adds or removes,
// not a pass over the whole grid. Hidden (deleted) rows count not.

#include <QObject>
#include <QString>

class QItemSelection;
class ResultGrid;

class SelectionTotals : public QObject
{
    Q_OBJECT
public:
    explicit SelectionTotals(ResultGrid &grid, QObject *parent = nullptr);

    int rows() const { return m_rows; }
    qint64 tiffPages() const { return m_tiff; }
    qint64 pdfPages() const { return m_pdf; }

    // "n selected – TIFF x PDF y pages" with two or more rows selected, else empty.
    QString text() const { return text(m_rows, m_tiff, m_pdf); }
    static QString text(int rows, qint64 tiffPages, qint64 pdfPages);

    // Counts the whole selection again.
    void recount();

signals:
    // After every change of the totals' inputs (the text may be the same).
    void changed();

private:
    void apply(const QItemSelection &selection, int sign);
    void add(int gridRow, int sign);  // the row's share, whether it is hidden or not
    void announce();

    ResultGrid &m_grid;
    int m_rows = 0;
    qint64 m_tiff = 0;
    qint64 m_pdf = 0;
};
