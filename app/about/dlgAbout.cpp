#include "dlgAbout.h"

#include "DesktopShell.h"
#include "ProductInfo.h"
#include "SysInfo.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QPointer<dlgAbout> g_openBox;

// A small stack of pages with a tally mark: the product's logo, drawn rather than shipped.
QPixmap drawLogo(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    p.scale(s, s);
    for (int i = 2; i >= 0; --i) {
        const QRectF page(10 + i * 6, 6 + i * 5, 34, 44);
        p.setPen(QPen(QColor(40, 60, 110), 1.5));
        p.setBrush(i == 0 ? QColor(250, 250, 255) : QColor(215, 222, 240));
        p.drawRect(page);
    }
    p.setPen(QPen(QColor(0, 0, 128), 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(17 + i * 5, 20), QPointF(17 + i * 5, 38));
    p.drawLine(QPointF(14, 35), QPointF(40, 22));
    return pm;
}

QLabel *makeLinkLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 0x80));  // dark blue, like a link
    label->setPalette(pal);
    QFont f = label->font();
    f.setUnderline(true);
    label->setFont(f);
    label->setCursor(Qt::PointingHandCursor);
    label->setFocusPolicy(Qt::StrongFocus);  // reachable by Tab, opened by Enter or Space
    return label;
}

}  // namespace

dlgAbout *dlgAbout::ShowAbout(DesktopShell &shell)
{
    if (!g_openBox) {
        g_openBox = new dlgAbout(shell);
        g_openBox->setAttribute(Qt::WA_DeleteOnClose);
        // Ownerless, yet it must not keep the program running once the main window has closed.
        g_openBox->setAttribute(Qt::WA_QuitOnClose, false);
    }
    g_openBox->show();
    g_openBox->raise();
    g_openBox->activateWindow();
    return g_openBox;
}

dlgAbout *dlgAbout::openInstance()
{
    return g_openBox;
}

dlgAbout::dlgAbout(DesktopShell &shell, QWidget *parent)
    : QDialog(parent), m_shell(shell)
{
    setObjectName(QStringLiteral("dlgAbout"));
    setWindowTitle(QStringLiteral("About"));
    setModal(false);

    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("picLogo"));
    logo->setPixmap(drawLogo(64));
    logo->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *product = new QLabel(QString::fromLatin1(product::VersionLine), this);
    product->setObjectName(QStringLiteral("lblProduct"));
    QFont big = product->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    product->setFont(big);

    auto *copyright = new QLabel(QString::fromUtf8(product::Copyright), this);
    copyright->setObjectName(QStringLiteral("lblCopyright"));

    auto *supportCaption = new QLabel(QStringLiteral("Support at:"), this);
    Label3 = makeLinkLabel(QString::fromLatin1(product::SupportAddress), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    auto *webCaption = new QLabel(QStringLiteral("Website:"), this);
    Label5 = makeLinkLabel(QString::fromLatin1(product::Website), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label3->installEventFilter(this);
    Label5->installEventFilter(this);

    auto *links = new QGridLayout;
    links->addWidget(supportCaption, 0, 0);
    links->addWidget(Label3, 0, 1);
    links->addWidget(webCaption, 1, 0);
    links->addWidget(Label5, 1, 1);
    links->setColumnStretch(1, 1);

    auto *texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(copyright);
    texts->addSpacing(8);
    texts->addLayout(links);
    texts->addStretch(1);

    auto *top = new QHBoxLayout;
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto *rule = new QFrame(this);
    rule->setObjectName(QStringLiteral("Line1"));
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);

    auto *root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addSpacing(6);
    root->addWidget(rule);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this,
            [this] { StartSysInfo(m_shell, this, m_toolSearchPath); });
    // OK (or Esc) closes and, for the box opened by ShowAbout, destroys it.
    connect(this, &QDialog::finished, this, &QWidget::close);
}

dlgAbout::~dlgAbout() = default;

bool dlgAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label3 || watched == Label5) {
        bool activate = false;
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *me = static_cast<QMouseEvent *>(event);
            activate = me->button() == Qt::LeftButton
                       && static_cast<QWidget *>(watched)->rect().contains(me->position().toPoint());
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            activate = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
        }
        if (activate) {
            openTarget(watched == Label3 ? product::mailTarget() : QString::fromLatin1(product::Website));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void dlgAbout::openTarget(const QString &target)
{
    // A link the desktop cannot open is not reported: the address stays readable in the box.
    m_shell.openUrl(QUrl(target));
}
