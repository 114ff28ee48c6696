#pragma once
// The window's command line: nothing, or one folder to search (what "Open With" on a folder
// passes). Options are refused, so a mistyped one is not taken for a folder name.

#include <QString>
#include <QStringList>

struct StartArguments {
    QString folder;   // absolute; empty: the start-up folder of the settings
    QString warning;  // the folder cannot be used: the window starts without it
    QString error;    // bad usage: the program ends with status 2
};

// What to print and exit with before any window or display is needed: the usage for --help or
// -h, the version line for --version or -V (the first of them before a "--"); empty otherwise.
QString InformationRequest(int argc, char **argv);

// args: the arguments after the program name (Qt's own options already removed). A file's
// folder stands in for the file; a file:// address is taken as its local path.
StartArguments ParseStartArguments(const QStringList &args);

// "usage: quirewell [FOLDER]" and a line on what it does.
QString StartUsage();
