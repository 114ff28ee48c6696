#pragma once
// What the window shows of a running search besides its rows: the "Files" panel and the totals
// label follow the rows shown (cleared with the grid, brought up to date at most every 100 ms
// while rows arrive), a busy indicator runs, and once a search has taken a second the time it has
// taken shows beside it (and stays after the end, until the next search starts).

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;
class frmMain;

class SearchProgress : public QObject
{
    Q_OBJECT
public:
    explicit SearchProgress(frmMain &window);

    static constexpr int kRefreshMs = 100;

    void searchStarted();
    void searchEnded();
    void rowsCleared();
    void rowAdded();

    // "0:08", "12:34", "1:02:03".
    static QString elapsedText(qint64 milliseconds);

private:
    void refreshCounts();
    void refreshElapsed();

    frmMain &m_window;
    QTimer *m_counts;   // single shot: the next refresh of the file count and totals
    QTimer *m_clock;    // the elapsed time while a search runs
    QElapsedTimer m_since;
};
