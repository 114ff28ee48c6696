#pragma once
// The text box of a number field: takes any text (the search converts it when it uses it),
// selects all of its text when it receives the focus so that typing replaces it, and can be told
// to refuse every typed character except the digits.

#include <QLineEdit>

namespace platform {

class NumberBox : public QLineEdit {
    Q_OBJECT
public:
    explicit NumberBox(QWidget *parent = nullptr);

    // Typed characters other than 0-9 are dropped. Editing and navigation keys (backspace,
    // delete, arrows, shortcuts such as Ctrl+C) still work.
    void setDigitsOnly(bool on) { m_digitsOnly = on; }
    bool digitsOnly() const { return m_digitsOnly; }

signals:
    // The Up and Down keys, for an attached up-down control.
    void stepRequested(int direction);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_digitsOnly = false;
};

}  // namespace platform
