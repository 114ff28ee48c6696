#include "NumberBox.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

namespace platform {

NumberBox::NumberBox(QWidget *parent)
    : QLineEdit(parent)
{
}

void NumberBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    selectAll();
    // A mouse click places the cursor after the focus arrives; select again once it has.
    if (event->reason() == Qt::MouseFocusReason)
        QTimer::singleShot(0, this, &QLineEdit::selectAll);
}

void NumberBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        emit stepRequested(event->key() == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    }
    if (m_digitsOnly && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const QString text = event->text();
        bool printable = false;
        for (QChar c : text)
            if (c.isPrint())
                printable = true;
        if (printable) {
            for (QChar c : text) {
                if (c < u'0' || c > u'9') {
                    event->accept();  // swallowed: the box never sees it
                    return;
                }
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace platform
