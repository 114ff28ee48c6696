#include "UnreadFoldersNotice.h"

#include "MessageBoxes.h"

UnreadFoldersNotice::UnreadFoldersNotice(QWidget *parent) : QPushButton(parent)
{
    setObjectName(QStringLiteral("cmdUnreadFolders"));
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(this, &QPushButton::clicked, this, &UnreadFoldersNotice::showDetails);
}

void UnreadFoldersNotice::setNotice(const QString &text, const QString &details)
{
    m_details = details;
    setText(text);
    setToolTip(details);
    setAccessibleDescription(details);
    setVisible(!text.isEmpty());
}

void UnreadFoldersNotice::showDetails()
{
    if (text().isEmpty())
        return;
    platform::MessageBoxes::message(window(), text() + QStringLiteral(":\n\n") + m_details, platform::MsgIcon::Warning);
}
