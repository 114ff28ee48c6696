#include "MainActions.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {

QAction *makeAction(QWidget *owner, const char *name, const QString &caption,
                    const QKeySequence &shortcut = {})
{
    auto *action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::ApplicationShortcut);
    }
    return action;
}

QMenu *makeMenu(QWidget *owner, const char *name, const QString &title)
{
    auto *menu = new QMenu(title, owner);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

QAction *separator(QMenu *menu, const char *name)
{
    QAction *sep = menu->addSeparator();
    sep->setObjectName(QString::fromLatin1(name));
    return sep;
}

// A popup item with its own name and caption that runs its menu-bar twin.
QAction *twin(QWidget *owner, const char *name, const QString &caption, QAction *of)
{
    QAction *action = makeAction(owner, name, caption);
    QObject::connect(action, &QAction::triggered, of, &QAction::trigger);
    return action;
}

}  // namespace

void MainActions::build(QWidget *owner, QMenuBar *menuBar)
{
    mnuFileOpen = makeAction(owner, "mnuFileOpen", QStringLiteral("Open"));
    mnuFileDelete = makeAction(owner, "mnuFileDelete", QStringLiteral("Delete"));
    mnuFileProperties = makeAction(owner, "mnuFileProperties", QStringLiteral("Properties..."));
    mnuFileShowContainingFolder =
        makeAction(owner, "mnuFileShowContainingFolder", QStringLiteral("Show Containing Folder"));
    mnuExit = makeAction(owner, "mnuExit", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuEditSelectAll = makeAction(owner, "mnuEditSelectAll", QStringLiteral("Select All"));
    mnuEditInvertSelection = makeAction(owner, "mnuEditInvertSelection", QStringLiteral("Invert Selection"));
    mnuExport = makeAction(owner, "mnuExport", QStringLiteral("Export"));
    mnuPreferences = makeAction(owner, "mnuPreferences", QStringLiteral("Preferences..."));
    mnuSupport = makeAction(owner, "mnuSupport", QStringLiteral("Quirewell Website"));
    mnuHelp1 = makeAction(owner, "mnuHelp1", QStringLiteral("Quirewell Help"), QKeySequence(Qt::CTRL | Qt::Key_H));
    mnuAbout = makeAction(owner, "mnuAbout", QStringLiteral("&About..."));

    mnuFile = makeMenu(owner, "mnuFile", QStringLiteral("File"));
    mnuFile->addAction(mnuFileOpen);
    separator(mnuFile, "mnuFileSep1");
    mnuFile->addAction(mnuFileDelete);
    mnuFile->addAction(mnuFileProperties);
    mnuFile->addAction(mnuFileShowContainingFolder);
    separator(mnuFile, "mnuFileSep2");
    mnuFile->addAction(mnuExit);

    mnuEdit = makeMenu(owner, "mnuEdit", QStringLiteral("Edit"));
    mnuEdit->addAction(mnuEditSelectAll);
    mnuEdit->addAction(mnuEditInvertSelection);

    mnuTools = makeMenu(owner, "mnuTools", QStringLiteral("Tools"));
    mnuTools->addAction(mnuExport);
    separator(mnuTools, "mnuToolsSep1");
    mnuTools->addAction(mnuPreferences);

    mnuHelp = makeMenu(owner, "mnuHelp", QStringLiteral("&Help"));
    mnuHelp->addAction(mnuSupport);
    mnuHelp->addAction(mnuHelp1);
    separator(mnuHelp, "mnuSeparator");
    mnuHelp->addAction(mnuAbout);

    for (QMenu *menu : {mnuFile, mnuEdit, mnuTools, mnuHelp})
        menuBar->addMenu(menu);

    mnuPopup = makeMenu(owner, "mnuPopup", QString());
    mnuPopupOpen = twin(owner, "mnuPopupOpen", QStringLiteral("Open"), mnuFileOpen);
    mnuPopupDelete = twin(owner, "mnuPopupDelete", QStringLiteral("Delete"), mnuFileDelete);
    mnuPopupProperties = twin(owner, "mnuPopupProperties", QStringLiteral("Properties"), mnuFileProperties);
    mnuPopupShowContainingFolder = twin(owner, "mnuPopupShowContainingFolder",
                                        QStringLiteral("Show Containing Folder"), mnuFileShowContainingFolder);
    mnuPopupSelectAll = twin(owner, "mnuPopupSelectAll", QStringLiteral("Select All"), mnuEditSelectAll);
    mnuPopupInvertSelection =
        twin(owner, "mnuPopupInvertSelection", QStringLiteral("Invert Selection"), mnuEditInvertSelection);
    mnuPopup->addAction(mnuPopupOpen);
    separator(mnuPopup, "mnuPopupSep1");
    mnuPopup->addAction(mnuPopupDelete);
    mnuPopup->addAction(mnuPopupProperties);
    mnuPopup->addAction(mnuPopupShowContainingFolder);
    separator(mnuPopup, "mnuPopupSep2");
    mnuPopup->addAction(mnuPopupSelectAll);
    mnuPopup->addAction(mnuPopupInvertSelection);
}
