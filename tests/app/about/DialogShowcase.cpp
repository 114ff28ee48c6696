// Shows one of the dialogs (about, save, prefs, props) for looking at it under Xvfb; not a test.
#include "AppSettings.h"
#include "DesktopShell.h"
#include "dlgAbout.h"
#include "dlgPreferences.h"
#include "dlgSave.h"
#include "FilePropertiesDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QTreeView>
#include <QScrollBar>
#include <QDebug>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString which = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("about");
    modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
    modGlobal::AppSettings.ColumnVisibility = {"1", "0", "1", "1", "1"};
    modGlobal::AppSettings.StartupFolder = QDir::homePath();
    QWidget *shown = nullptr;
    if (which == QLatin1String("save")) {
        auto *d = new dlgSave(QDir::tempPath());
        if (argc > 2)
            d->findChild<QWidget *>("cmbFileType")->setProperty("currentIndex", atoi(argv[2]));
        shown = d;
    } else if (which == QLatin1String("props")) {
        const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationFilePath();
        shown = new FilePropertiesDialog(QFile::encodeName(path), path, QStringLiteral("12"));
    } else if (which == QLatin1String("prefs")) {
        if (argc > 2)
            modGlobal::AppSettings.ShowGrid = 0;
        shown = new dlgPreferences({"File Name", "Location", "Size", "Modified Date", "Pages"}, [] {});
    } else {
        shown = new dlgAbout(systemDesktopShell());
    }
    shown->move(20, 20);
    shown->show();
    if (qEnvironmentVariableIsSet("SHOWCASE_GRAB"))
        QTimer::singleShot(3000, shown, [shown] { shown->grab().save(qEnvironmentVariable("SHOWCASE_GRAB"));
            if (auto *t = shown->findChild<QTreeView *>("ftvFolder"))
                qWarning() << t->currentIndex().data() << t->verticalScrollMode() << t->visualRect(t->currentIndex()) << t->verticalScrollBar()->value()
                           << t->verticalScrollBar()->maximum();
        });
    return app.exec();
}
