#pragma once
// "System Info...": find and start a system-information tool, or say that there is none.
//
// Where to look, in order: the tool's path recorded in the registration store; the folder
// recorded there that holds MSINFO32.EXE; then the desktop's own tools found on the PATH
// (hardinfo, kinfocenter, the GNOME or MATE system monitor). The first that starts wins.

#include "ComRegistry.h"

#include <QString>
#include <QStringList>

class DesktopShell;
class QWidget;

// Reads the text value SubKeyRef of key KeyName under KeyRoot. False, with KeyVal empty, when the
// key cannot be opened or the value cannot be read (missing, or longer than 1024 bytes). A value
// that is not text gives true with KeyVal empty: it names no usable path.
bool GetKeyValue(HKEY KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal);

// The programs to try, best first. toolSearchPath lists the folders searched for the desktop's
// tools; empty means the PATH.
QStringList SysInfoCandidates(const QStringList &toolSearchPath = {});

// Starts the first candidate that starts; otherwise shows "System Information Is Unavailable At
// This Time". Returns true when a tool was started.
bool StartSysInfo(DesktopShell &shell, QWidget *parent, const QStringList &toolSearchPath = {});
