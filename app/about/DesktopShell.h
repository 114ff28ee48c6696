#pragma once
// What the About box and the help commands ask of the desktop: open a web or mail address or a
// document with the user's chosen program, and start a program. Tests put a recording fake in
// place of the desktop so no browser or mail program ever opens.

#include <QString>
#include <QStringList>
#include <QUrl>

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // True when the desktop accepted the request.
    virtual bool openUrl(const QUrl &url) = 0;
    // Starts a program detached from this one, in its own normal window.
    virtual bool startProgram(const QString &program, const QStringList &arguments) = 0;
};

// The running desktop (QDesktopServices and QProcess). Lives for the whole run.
DesktopShell &systemDesktopShell();
