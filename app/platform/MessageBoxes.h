#pragma once
// Every message box of the program goes through here, so a test can answer boxes itself:
//   platform::RecordingMessageBoxes boxes;           // installs itself, restores on destruction
//   boxes.answers = {platform::MsgResult::Yes};
//   ... code under test ...
//   EXPECT_EQ(boxes.shown.at(0).text, "...");

#include <QList>
#include <QString>

class QWidget;

namespace platform {

// The program's title: the caption of every message box and of the main window.
inline QString appTitle() { return QStringLiteral("Quirewell"); }

enum class MsgIcon { None, Information, Question, Warning, Critical };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes();

    // Shows a modal box with the program's title as caption and returns the button pressed.
    // Closing the box without a button counts as Cancel, or No where there is no Cancel, or Ok
    // for a box that has only Ok.
    virtual MsgResult show(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) = 0;

    // The implementation in use: the real boxes unless one has been installed.
    static MessageBoxes &current();
    // Installs an implementation (not owned); nullptr goes back to the real boxes.
    // Returns the one installed before.
    static MessageBoxes *install(MessageBoxes *boxes);

    // Shorthand for current().show(...).
    static MsgResult message(QWidget *parent, const QString &text, MsgIcon icon = MsgIcon::Information,
                             MsgButtons buttons = MsgButtons::Ok);
};

// Real boxes (QMessageBox). Line breaks written as CR LF show as one break.
class QtMessageBoxes final : public MessageBoxes {
public:
    MsgResult show(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) override;
};

// Records every box instead of showing it and answers from a queue; when the queue is empty it
// answers Ok, or Yes for question boxes. Installs itself while it lives.
class RecordingMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString text;
        MsgIcon icon;
        MsgButtons buttons;
        QWidget *parent;
    };

    RecordingMessageBoxes();
    ~RecordingMessageBoxes() override;
    RecordingMessageBoxes(const RecordingMessageBoxes &) = delete;
    RecordingMessageBoxes &operator=(const RecordingMessageBoxes &) = delete;

    MsgResult show(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) override;

    QList<Shown> shown;
    QList<MsgResult> answers;

private:
    MessageBoxes *m_previous;
};

}  // namespace platform
