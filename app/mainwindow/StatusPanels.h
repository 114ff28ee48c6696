#pragma once
// sbGeneral: a status bar with three keyed panels ("Message", "Files", "Clock"). The clock keeps
// itself; the "Files" panel shows today's long date as its tooltip while the pointer is over it.

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateClock();

    QLabel *m_message;
    QLabel *m_files;
    QLabel *m_clock;
    QLabel *m_selection;
    QTimer *m_clockTimer;
};
