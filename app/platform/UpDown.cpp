#include "UpDown.h"

#include "NumberBox.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace platform {

UpDown::UpDown(QWidget *parent)
    : QWidget(parent)
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(16);
        layout->addWidget(b);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setAccessibleName(tr("Up"));
    m_down->setAccessibleName(tr("Down"));
    connect(m_up, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(m_down, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setBuddy(QLineEdit *buddy)
{
    m_buddy = buddy;
    if (auto *box = qobject_cast<NumberBox *>(buddy))
        connect(box, &NumberBox::stepRequested, this, &UpDown::step);
}

void UpDown::setRange(int minimum, int maximum)
{
    m_min = std::min(minimum, maximum);
    m_max = std::max(minimum, maximum);
    m_value = std::clamp(m_value, m_min, m_max);
}

void UpDown::setValue(int value)
{
    m_value = std::clamp(value, m_min, m_max);
    if (m_buddy)
        m_buddy->setText(QString::number(m_value));
}

void UpDown::step(int direction)
{
    qint64 base = m_value;
    if (m_buddy) {
        bool ok = false;
        const qint64 typed = m_buddy->text().trimmed().toLongLong(&ok);
        if (ok)
            base = typed;
    }
    const qint64 next = std::clamp<qint64>(base + qint64(direction) * m_increment, m_min, m_max);
    setValue(int(next));
    if (m_buddy && m_buddy->hasFocus())
        m_buddy->selectAll();
}

}  // namespace platform
