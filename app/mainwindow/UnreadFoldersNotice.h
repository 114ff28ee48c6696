#pragma once
// A note in the status bar after a search that could not read some folders: "2 folders could
// not be read", the folders and reasons in its tooltip, and in a message box on a click. Hidden
// while there is nothing to say.

#include <QPushButton>

class UnreadFoldersNotice : public QPushButton
{
public:
    explicit UnreadFoldersNotice(QWidget *parent = nullptr);

    // Empty text: nothing to say, the note hides.
    void setNotice(const QString &text, const QString &details);
    QString details() const { return m_details; }

private:
    void showDetails();

    QString m_details;
};
