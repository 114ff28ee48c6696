#include "HelpCommands.h"

#include "DesktopShell.h"
#include "MessageBoxes.h"
#include "ProductInfo.h"
#include "ProgramLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString HelpFilePath()
{
    return HelpFilePathFor(QCoreApplication::applicationDirPath());
}

QString HelpFilePathFor(const QString &programFolder)
{
    const QString beside = QDir(programFolder).filePath(QStringLiteral("Quirewell.html"));
    if (QFileInfo::exists(beside))
        return beside;
    const std::string docs = comrt::InstalledDocFolderFor(QFile::encodeName(programFolder).toStdString());
    const QString installed = QDir::cleanPath(QFile::decodeName(docs.c_str()) + QStringLiteral("/Quirewell.html"));
    return QFileInfo::exists(installed) ? installed : beside;
}

bool OpenHelpFile(DesktopShell &shell, QWidget *parent)
{
    const QString path = HelpFilePath();
    if (!QFileInfo(path).isFile()) {
        platform::MessageBoxes::message(parent, QStringLiteral("The help file could not be found:\r\n\r\n")
                                                    + QDir::toNativeSeparators(path));
        return false;
    }
    if (shell.openUrl(QUrl::fromLocalFile(path)))
        return true;
    platform::MessageBoxes::message(parent, QStringLiteral("Unable to open the help file:\r\n\r\n")
                                                + QDir::toNativeSeparators(path));
    return false;
}

bool OpenWebsite(DesktopShell &shell, QWidget *parent)
{
    const QString address = QString::fromLatin1(product::Website);
    if (shell.openUrl(QUrl(address)))
        return true;
    platform::MessageBoxes::message(parent, QStringLiteral("Unable to open the website:\r\n\r\n") + address);
    return false;
}
