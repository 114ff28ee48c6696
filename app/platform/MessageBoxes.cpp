#include "MessageBoxes.h"

#include <QMessageBox>

namespace platform {

namespace {

MessageBoxes *g_installed = nullptr;

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MessageBoxes::~MessageBoxes() = default;

MessageBoxes &MessageBoxes::current()
{
    static QtMessageBoxes real;
    return g_installed ? *g_installed : real;
}

MessageBoxes *MessageBoxes::install(MessageBoxes *boxes)
{
    MessageBoxes *previous = g_installed;
    g_installed = boxes;
    return previous;
}

MsgResult MessageBoxes::message(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons)
{
    return current().show(parent, text, icon, buttons);
}

MsgResult QtMessageBoxes::show(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons)
{
    QString shownText = text;
    shownText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(toQt(icon), appTitle(), shownText, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgResult::Ok;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: break;
    }
    switch (buttons) {
    case MsgButtons::Ok: return MsgResult::Ok;
    case MsgButtons::YesNo: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

RecordingMessageBoxes::RecordingMessageBoxes()
    : m_previous(MessageBoxes::install(this))
{
}

RecordingMessageBoxes::~RecordingMessageBoxes()
{
    MessageBoxes::install(m_previous);
}

MsgResult RecordingMessageBoxes::show(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons)
{
    shown.append({text, icon, buttons, parent});
    if (!answers.isEmpty())
        return answers.takeFirst();
    return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes : MsgResult::Ok;
}

}  // namespace platform
