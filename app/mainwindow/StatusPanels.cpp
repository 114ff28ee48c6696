#include "StatusPanels.h"

#include "Twips.h"

#include <QDate>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QTime>
#include <QTimer>

namespace {

QLabel *makePanel(const QString &key, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(key);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setMouseTracking(true);
    return label;
}

}  // namespace

StatusPanels::StatusPanels(QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("sbGeneral"));
    setSizeGripEnabled(true);
    setMouseTracking(true);

    m_message = makePanel(QStringLiteral("Message"), this);
    m_message->setMinimumWidth(platform::twipsToPixels(1440));
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // long paths must not widen the window
    m_files = makePanel(QStringLiteral("Files"), this);
    m_files->setFixedWidth(platform::twipsToPixels(2000));
    m_clock = makePanel(QStringLiteral("Clock"), this);
    m_clock->setFixedWidth(platform::twipsToPixels(1440));
    m_clock->setAlignment(Qt::AlignCenter);

    m_selection = makePanel(QStringLiteral("Selection"), this);
    m_selection->hide();

    addWidget(m_message, 1);
    addPermanentWidget(m_selection);
    addPermanentWidget(m_files);
    addPermanentWidget(m_clock);
    m_files->installEventFilter(this);

    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &StatusPanels::updateClock);
    m_clockTimer->start();
    updateClock();
}

QLabel *StatusPanels::panel(const QString &key) const
{
    if (key == QLatin1String("Message"))
        return m_message;
    if (key == QLatin1String("Files"))
        return m_files;
    if (key == QLatin1String("Clock"))
        return m_clock;
    return nullptr;
}

QLabel *StatusPanels::panel(int index) const
{
    switch (index) {
    case 1: return m_message;
    case 2: return m_files;
    case 3: return m_clock;
    default: return nullptr;
    }
}

void StatusPanels::setPanelText(const QString &key, const QString &text)
{
    if (QLabel *p = panel(key))
        p->setText(text);
}

QString StatusPanels::panelText(const QString &key) const
{
    const QLabel *p = panel(key);
    return p ? p->text() : QString();
}

void StatusPanels::setSelectionText(const QString &text)
{
    m_selection->setText(text);
    m_selection->setVisible(!text.isEmpty());
}

QString StatusPanels::longDate(const QDate &date)
{
    return QLocale().toString(date, QStringLiteral("dddd, MMMM dd, yyyy"));
}

bool StatusPanels::eventFilter(QObject *watched, QEvent *event)
{
    // Only a pointer over the "Files" panel refreshes its date tooltip.
    if (watched == m_files && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter))
        m_files->setToolTip(longDate(QDate::currentDate()));
    return QStatusBar::eventFilter(watched, event);
}

void StatusPanels::updateClock()
{
    const QString now = QLocale().toString(QTime::currentTime(), QLocale::ShortFormat);
    if (m_clock->text() != now)
        m_clock->setText(now);
}
