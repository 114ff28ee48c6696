#include "StatusPanels.h"

#include "MessageBoxes.h"
#include "Twips.h"

#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>
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

    // A bar that runs to and fro: how far a search has got is unknown until it ends.
    auto *busy = new QProgressBar(this);
    busy->setObjectName(QStringLiteral("Busy"));
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedWidth(platform::twipsToPixels(1000));
    busy->setMaximumHeight(m_message->sizeHint().height());
    busy->setAccessibleName(QStringLiteral("Search progress"));
    busy->hide();
    m_busy = busy;
    m_elapsed = makePanel(QStringLiteral("Elapsed"), this);
    m_elapsed->setAlignment(Qt::AlignCenter);
    m_elapsed->setAccessibleName(QStringLiteral("Search time"));
    m_elapsed->hide();

    addWidget(m_message, 1);
    addPermanentWidget(m_busy);
    addPermanentWidget(m_elapsed);
    addPermanentWidget(m_selection);
    addPermanentWidget(m_files);
    addPermanentWidget(m_clock);
    m_files->installEventFilter(this);
    m_message->installEventFilter(this);
    m_message->setCursor(Qt::PointingHandCursor);

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
    QLabel *p = panel(key);
    if (!p)
        return;
    p->setText(text);
    if (p == m_message) {
        // The panel cuts a long text (a counter's repair command, a long path); these keep it whole.
        p->setToolTip(text);
        p->setAccessibleDescription(text);
    }
}

void StatusPanels::showWholeMessage()
{
    const QString text = m_message->text();
    if (text.isEmpty())
        return;
    auto *dialog = new QDialog(window());
    dialog->setObjectName(QStringLiteral("dlgStatusMessage"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(platform::appTitle());
    auto *box = new QPlainTextEdit(text, dialog);
    box->setObjectName(QStringLiteral("txtMessage"));
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setAccessibleName(QStringLiteral("Message"));
    const QFontMetrics fm(box->font());
    box->setMinimumSize(fm.averageCharWidth() * 60, fm.lineSpacing() * 5);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(box);
    layout->addWidget(buttons);
    dialog->show();
}

void StatusPanels::setBusy(bool busy)
{
    m_busy->setVisible(busy);
}

void StatusPanels::setElapsedText(const QString &text)
{
    m_elapsed->setText(text);
    m_elapsed->setVisible(!text.isEmpty());
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
    if (watched == m_message && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && m_message->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint()))
        showWholeMessage();
    return QStatusBar::eventFilter(watched, event);
}

void StatusPanels::updateClock()
{
    const QString now = QLocale().toString(QTime::currentTime(), QLocale::ShortFormat);
    if (m_clock->text() != now)
        m_clock->setText(now);
}
