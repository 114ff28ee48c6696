#pragma once
// The start procedure: settings first, then the main window loaded hidden, then the splash; the
// main window is shown when the splash ends (its timer, or the user closing it early).

#include "SearchCore.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class frmMain;
class frmSplash;

class Startup : public QObject
{
    Q_OBJECT
public:
    Startup();
    ~Startup() override;

    // Loads the settings; false (after the settings message) when they cannot be read: then no
    // window exists. Otherwise the main window is loaded hidden and the splash is up (modal).
    // counters empty: the page counter components through the runtime.
    bool start(search::SearchCore::FactoryMaker counters = {});
    // A folder given on the command line: the tree selects it instead of the start-up folder,
    // so the first search walks it. Call before start().
    void setStartFolder(const QString &folder) { m_startFolder = folder; }

    frmMain *mainWindow() const { return m_main.get(); }
    frmSplash *splash() const;

private:
    void splashFinished();

    std::unique_ptr<frmMain> m_main;
    QPointer<frmSplash> m_splash;
    bool m_quitOnLastWindowClosed = true;
    QString m_startFolder;
};

// main(): the whole program; returns the process's exit status (2: bad command line).
int RunQuirewell(int argc, char **argv);
