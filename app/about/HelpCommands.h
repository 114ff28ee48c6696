#pragma once
// The Help menu's commands: the help file beside the program and the product's website.

#include <QString>

class DesktopShell;
class QWidget;

// The help file: "Quirewell.html" in the program folder, wherever the working folder is; for an
// installed program (no help file beside it) the one in the installed documentation folder.
QString HelpFilePath();
// The same for a given program folder.
QString HelpFilePathFor(const QString &programFolder);

// Opens the help file in the user's browser. A missing file, or one the desktop will not open,
// is reported in a message naming the path. Returns true when the desktop accepted the request.
bool OpenHelpFile(DesktopShell &shell, QWidget *parent);

// Opens the product's website; a refusal is reported. Returns true when the desktop accepted it.
bool OpenWebsite(DesktopShell &shell, QWidget *parent);
