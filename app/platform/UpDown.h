#pragma once
// A pair of small arrow buttons that step the whole number in a buddy text box.

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace platform {

class NumberBox;

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget *parent = nullptr);

    // The Up and Down keys of a NumberBox buddy step it too.
    void setBuddy(QLineEdit *buddy);
    QLineEdit *buddy() const { return m_buddy; }
    void setRange(int minimum, int maximum);
    void setIncrement(int increment) { m_increment = increment; }
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    // The last value stepped to; used as the starting point when the buddy holds no number.
    int value() const { return m_value; }
    void setValue(int value);

public slots:
    void stepUp() { step(1); }
    void stepDown() { step(-1); }
    void step(int direction);

private:
    QLineEdit *m_buddy = nullptr;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min = 0;
    int m_max = 100;
    int m_increment = 1;
    int m_value = 0;
};

}  // namespace platform
