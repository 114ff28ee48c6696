#include "SearchProgress.h"

#include "SearchCommand.h"
#include "ResultGrid.h"
#include "StatusPanels.h"
#include "frmMain.h"

#include <QLabel>
#include <QTimer>

SearchProgress::SearchProgress(frmMain &window)
    : QObject(&window), m_window(window), m_counts(new QTimer(this)), m_clock(new QTimer(this))
{
    m_counts->setSingleShot(true);
    m_counts->setInterval(kRefreshMs);
    connect(m_counts, &QTimer::timeout, this, &SearchProgress::refreshCounts);
    m_clock->setInterval(250);
    connect(m_clock, &QTimer::timeout, this, &SearchProgress::refreshElapsed);
}

QString SearchProgress::elapsedText(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

void SearchProgress::searchStarted()
{
    m_since.start();
    m_window.sbGeneral->setElapsedText(QString());
    m_window.sbGeneral->setBusy(true);
    m_clock->start();
}

void SearchProgress::searchEnded()
{
    // The search's own end texts are written by now; a refresh still waiting would only repeat them.
    m_counts->stop();
    m_clock->stop();
    m_window.sbGeneral->setBusy(false);
    refreshElapsed();
}

void SearchProgress::rowsCleared()
{
    m_counts->stop();
    m_window.ShowStatus(QString(), QStringLiteral("Files"));
    m_window.lblPageCount->setText(search::SearchCommand::totalsText(0, 0));
}

void SearchProgress::rowAdded()
{
    if (!m_counts->isActive())
        m_counts->start();
}

void SearchProgress::refreshCounts()
{
    const int files = m_window.vsFiles->rows() - 1;
    if (files <= 0)
        return;
    // The same texts the search writes when a folder ends, so nothing new to read.
    m_window.ShowStatus(QString::number(files) + QStringLiteral(" file(s) found"), QStringLiteral("Files"));
    m_window.lblPageCount->setText(search::SearchCommand::totalsText(m_window.folderSearch().tiffPageTotal(),
                                                                    m_window.folderSearch().pdfPageTotal()));
}

void SearchProgress::refreshElapsed()
{
    if (!m_since.isValid())
        return;
    const qint64 ms = m_since.elapsed();
    if (ms >= 1000)
        m_window.sbGeneral->setElapsedText(elapsedText(ms));
}
