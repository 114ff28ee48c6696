#include "StartArguments.h"

#include "ProductInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString StartUsage()
{
    return QStringLiteral("usage: quirewell [FOLDER]\n"
                          "Starts Quirewell and searches FOLDER (default: the start-up folder of the "
                          "Preferences).\n"
                          "  -h, --help     show this help\n"
                          "  -V, --version  show the version\n"
                          "For counting from scripts, see quirewell-count --help.\n");
}

QString InformationRequest(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h")
            return StartUsage();
        if (arg == "--version" || arg == "-V")
            return QLatin1String(product::VersionLine) + QLatin1Char('\n');
    }
    return {};
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
