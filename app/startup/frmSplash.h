#pragma once
// The start-up window: product line, support and website addresses, copyright. Its timer ends it.

#include <QDialog>

class QTimer;

class frmSplash : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kShowMs = 3000;

    explicit frmSplash(QWidget *parent = nullptr);

    QTimer *Timer1 = nullptr;

private:
    void Timer1_Timer();
};
