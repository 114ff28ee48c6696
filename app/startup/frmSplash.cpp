#include "frmSplash.h"

#include "ProductInfo.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A drawn logo, so the program carries no picture files: a stack of pages with a tally mark.
QPixmap drawLogo()
{
    QPixmap pix(72, 72);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x1f, 0x4e, 0x79);
    for (int i = 2; i >= 0; --i) {
        const QRectF page(10 + i * 7, 6 + i * 7, 40, 50);
        p.setPen(QPen(ink, 2));
        p.setBrush(i == 0 ? QColor(0xf4, 0xf7, 0xfb) : QColor(0xdd, 0xe6, 0xf0));
        p.drawRect(page);
    }
    p.setPen(QPen(ink, 3));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(20 + i * 6, 26), QPointF(20 + i * 6, 44));
    p.drawLine(QPointF(16, 42), QPointF(44, 28));
    return pix;
}

QLabel *textLabel(const QString &text, QWidget *parent, int pointDelta = 0, bool bold = false)
{
    auto *label = new QLabel(text, parent);
    QFont f = label->font();
    f.setPointSize(f.pointSize() + pointDelta);
    f.setBold(bold);
    label->setFont(f);
    label->setTextInteractionFlags(Qt::NoTextInteraction);  // the labels do not react to clicks
    return label;
}

}  // namespace

frmSplash::frmSplash(QWidget *parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QString());
    setModal(true);

    auto *frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    auto *logo = new QLabel(frame);
    logo->setPixmap(drawLogo());
    logo->setObjectName(QStringLiteral("imgLogo"));

    auto *product = textLabel(QString::fromUtf8(product::VersionLine), frame, 6, true);
    product->setObjectName(QStringLiteral("lblProductName"));
    auto *support = textLabel(QStringLiteral("Support at: ") + QString::fromUtf8(product::SupportAddress), frame);
    support->setObjectName(QStringLiteral("lblSupport"));
    auto *website = textLabel(QStringLiteral("Website:") + QString::fromUtf8(product::Website), frame);
    website->setObjectName(QStringLiteral("lblWebsite"));
    auto *rule = new QFrame(frame);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setObjectName(QStringLiteral("Line1"));
    auto *copyright = textLabel(QString::fromUtf8(product::Copyright), frame, -1);
    copyright->setObjectName(QStringLiteral("lblCopyright"));

    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(8);
    auto *top = new QHBoxLayout;
    top->addWidget(logo);
    top->addSpacing(12);
    top->addWidget(product, 1);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(support);
    layout->addWidget(website);
    layout->addWidget(rule);
    layout->addWidget(copyright);
    setFixedSize(sizeHint().expandedTo(QSize(440, 0)));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kShowMs);
    Timer1->setSingleShot(false);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    Timer1->start();  // enabled from the start
}

void frmSplash::Timer1_Timer()
{
    Timer1->stop();
    accept();
}
