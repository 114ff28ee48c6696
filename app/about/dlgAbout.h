#pragma once
// The About box: product line, copyright, the support and website links, and System Info.
// Not modal and without owner, so the main window (and a running search) stays usable; only one
// exists at a time.

#include <QDialog>
#include <QStringList>

class DesktopShell;
class QLabel;
class QPushButton;

class dlgAbout : public QDialog {
    Q_OBJECT
public:
    // Shows the box, or brings the open one to the front. The shell must outlive the box.
    static dlgAbout *ShowAbout(DesktopShell &shell);
    // The box currently open, if any.
    static dlgAbout *openInstance();

    explicit dlgAbout(DesktopShell &shell, QWidget *parent = nullptr);
    ~dlgAbout() override;

    // Folders searched for a desktop system-information tool; empty means the PATH.
    void setToolSearchPath(const QStringList &folders) { m_toolSearchPath = folders; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openTarget(const QString &target);

    DesktopShell &m_shell;
    QStringList m_toolSearchPath;
    QLabel *Label3 = nullptr;  // support e-mail address
    QLabel *Label5 = nullptr;  // website address
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;
};
