#include "Startup.h"

#include "AppIcon.h"
#include "FolderTree.h"
#include "StartArguments.h"
#include "SettingsFile.h"
#include "WindowLayoutKeeper.h"
#include "frmMain.h"
#include "frmSplash.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

Startup::Startup() = default;

frmSplash *Startup::splash() const
{
    return m_splash.data();
}

Startup::~Startup()
{
    delete m_splash;
}

bool Startup::start(search::SearchCore::FactoryMaker counters)
{
    if (!modGlobal::LoadSettings())
        return false;
    m_main = std::make_unique<frmMain>(nullptr, std::move(counters));
    // The layout the window had when it last closed, or the first-start layout; written back
    // when it closes.
    (new WindowLayoutKeeper(*m_main, modGlobal::SettingsFilePath()))->restore();
    if (!m_startFolder.isEmpty() && !m_main->ftv->setSelectedFolder(m_startFolder))
        std::fprintf(stderr, "quirewell: cannot show the folder %s\n", QFile::encodeName(m_startFolder).constData());

    // The splash is the only window for a while: closing it must not end the program.
    m_quitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // The splash is application-modal: nothing else takes input while it shows. Closing it
    // before its timer fires shows the main window at once, like the timer does.
    m_splash = new frmSplash;
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    m_splash->setWindowModality(Qt::ApplicationModal);
    connect(m_splash, &QDialog::finished, this, &Startup::splashFinished);
    m_splash->show();
    return true;
}

void Startup::splashFinished()
{
    if (m_splash)
        m_splash->deleteLater();
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
    QGuiApplication::setQuitOnLastWindowClosed(m_quitOnLastWindowClosed);
}

int RunQuirewell(int argc, char **argv)
{
    // Answered without a display: "quirewell --help" works over ssh and in scripts.
    const QString information = InformationRequest(argc, argv);
    if (!information.isEmpty()) {
        std::fputs(information.toUtf8().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quirewell"));
    // Ties the windows to the desktop entry (and its icon) on Wayland and in task switchers.
    QGuiApplication::setDesktopFileName(QStringLiteral("quirewell"));
    QApplication::setWindowIcon(ApplicationIcon());

    QStringList args;
    for (int i = 1; i < argc; ++i)  // what Qt left after taking its own options
        args << QFile::decodeName(argv[i]);
    const StartArguments start = ParseStartArguments(args);
    if (!start.error.isEmpty()) {
        std::fputs(qPrintable(start.error), stderr);
        return 2;
    }
    if (!start.warning.isEmpty())
        std::fputs(qPrintable(start.warning), stderr);
    // Outside a full desktop (a bare X server, a minimal window manager) Qt knows no icon theme
    // and every file would get the same generic icon; the freedesktop default theme fills in.
    if (!QIcon::hasThemeIcon(QStringLiteral("text-x-generic")))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    int status = 0;
    {
        Startup startup;
        startup.setStartFolder(start.folder);
        if (!startup.start())
            return 1;
        status = QApplication::exec();
        // The window and its search go here: counting in progress is aborted and waited for
        // briefly.
    }
    if (search::SearchCore::busyThreads() > 0) {
        // A counter call that could not be interrupted is still running on its own thread; the
        // static destructors below could pull its library from under it, so leave without them.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
