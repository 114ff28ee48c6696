#include "StartArguments.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString StartUsage()
{
    return QStringLiteral("usage: quirewell [FOLDER]\n"
                          "Starts Quirewell and searches FOLDER (default: the start-up folder of the "
                          "Preferences).\n"
                          "For counting from scripts, see quirewell-count --help.\n");
}

StartArguments ParseStartArguments(const QStringList &args)
{
    StartArguments result;
    QStringList paths;
    bool optionsEnded = false;
    for (const QString &arg : args) {
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg.startsWith(u'-') && arg.size() > 1) {
            result.error = QStringLiteral("quirewell: unknown option %1\n").arg(arg) + StartUsage();
            return result;
        } else {
            paths << arg;
        }
    }
    if (paths.size() > 1) {
        result.error = QStringLiteral("quirewell: one folder at most\n") + StartUsage();
        return result;
    }
    if (paths.isEmpty())
        return result;

    QString path = paths.front();
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(path);
        if (url.isLocalFile())
            path = url.toLocalFile();
    }
    const QFileInfo info(path);
    if (info.isDir())
        result.folder = QDir::cleanPath(info.absoluteFilePath());
    else if (info.exists())
        result.folder = QDir::cleanPath(info.absolutePath());
    else
        result.warning = QStringLiteral("quirewell: no such folder: %1\n").arg(path);
    return result;
}
