#pragma once
// sbGeneral: a status bar with three keyed panels ("Message", "Files", "Clock"). The clock keeps
// itself; the "Files" panel shows today's long date as its tooltip while the pointer is over it.
// The "Message" panel may be too narrow for its text: its tooltip and accessible description hold
// the whole text, and a click on it shows the text in a small window. While a search runs, a busy
// indicator and, after the first second, the time it has taken sit beside the panels.

#include <QStatusBar>

class QLabel;
class QTimer;

class StatusPanels : public QStatusBar
{
    Q_OBJECT
public:
    explicit StatusPanels(QWidget *parent = nullptr);

    // Sets the text of the panel with the given key; an unknown key changes nothing.
    void setPanelText(const QString &key, const QString &text);
    QString panelText(const QString &key) const;
    // Panel by key ("Message", "Files", "Clock") or by 1-based index; nullptr when there is none.
    QLabel *panel(const QString &key) const;
    QLabel *panel(int index) const;

    static QString longDate(const QDate &date);

    // The selection's totals, between the message and the file count; hidden while empty. It is
    // no keyed panel: the search never writes it.
    void setSelectionText(const QString &text);
    QLabel *selectionPanel() const { return m_selection; }

    // The busy indicator of a running search.
    void setBusy(bool busy);
    QWidget *busyIndicator() const { return m_busy; }
    // The time a search has taken ("0:08"); empty hides it.
    void setElapsedText(const QString &text);
    QLabel *elapsedPanel() const { return m_elapsed; }

    // Opens the window with the whole text of the "Message" panel (what a click on it does);
    // nothing while the panel is empty.
    void showWholeMessage();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateClock();

    QLabel *m_message;
    QLabel *m_files;
    QLabel *m_clock;
    QLabel *m_selection;
    QWidget *m_busy;
    QLabel *m_elapsed;
    QTimer *m_clockTimer;
};
