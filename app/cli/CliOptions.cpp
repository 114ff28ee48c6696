#include "CliOptions.h"

namespace cli {

namespace {

bool parseFormat(const QByteArray &text, Format &out)
{
    static const std::pair<const char *, Format> names[] = {
        {"text", Format::Text}, {"csv", Format::Csv}, {"tsv", Format::Tsv}, {"json", Format::Json}};
    for (const auto &[name, format] : names)
        if (text == name) {
            out = format;
            return true;
        }
    return false;
}

}  // namespace

QString UsageText()
{
    return QStringLiteral(
        "usage: quirewell-count [-r] [--hidden] [--filter PATTERNS] [--format text|csv|tsv|json]\n"
        "                       [--jobs N] [--no-cache] FOLDER...\n"
        "Counts the pages of the TIFF and PDF files in each FOLDER and prints one record per file\n"
        "(path, type, size, pages, and the reason when a count failed), then the page totals.\n"
        "\n"
        "  -r, --recursive    include subfolders\n"
        "      --hidden       include hidden files\n"
        "      --filter P     file-name patterns, separated by commas (default: *.pdf,*.tif,*.tiff)\n"
        "      --format F     text (default), csv, tsv or json\n"
        "  -j, --jobs N       count N files at once (default: as many as keep the disk and\n"
        "                     the processors busy)\n"
        "      --no-cache     count every file again instead of reusing the page counts kept\n"
        "                     for files unchanged since they were last counted\n"
        "  -h, --help         show this help\n"
        "  -V, --version      show the version\n"
        "\n"
        "Exit status: 0 every file counted, 1 some could not be counted, 2 bad usage,\n"
        "130 stopped by Ctrl+C (the totals are those so far).\n");
}

CliOptions ParseArguments(const QList<QByteArray> &args)
{
    CliOptions o;
    const auto fail = [&o](const QString &why) {
        o.error = why;
        return o;
    };
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QByteArray arg = args[i];
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            o.folders << arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Options with a value take it as the next argument or after "=".
        QByteArray value;
        bool inlineValue = false;
        if (arg.startsWith("--")) {
            const qsizetype eq = arg.indexOf('=');
            if (eq > 0) {
                value = arg.mid(eq + 1);
                arg = arg.left(eq);
                inlineValue = true;
            }
        }
        const QString name = QString::fromUtf8(arg);
        const bool takesValue = arg == "--filter" || arg == "--format" || arg == "--jobs" || arg == "-j";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("option %1 needs a value").arg(name));
            value = args[++i];
        } else if (!takesValue && inlineValue) {
            return fail(QStringLiteral("option %1 takes no value").arg(name));
        }

        if (arg == "-r" || arg == "--recursive") {
            o.recursive = true;
        } else if (arg == "--no-cache") {
            o.noCache = true;
        } else if (arg == "--hidden") {
            o.hidden = true;
        } else if (arg == "--filter") {
            o.filter = QString::fromUtf8(value);
        } else if (arg == "--format") {
            if (!parseFormat(value, o.format))
                return fail(QStringLiteral("unknown format \"%1\" (text, csv, tsv or json)").arg(QString::fromUtf8(value)));
        } else if (arg == "--jobs" || arg == "-j") {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > kMaxJobs)
                return fail(QStringLiteral("--jobs needs a whole number from 1 to %1, not \"%2\"")
                                .arg(kMaxJobs)
                                .arg(QString::fromUtf8(value)));
            o.jobs = n;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "-V" || arg == "--version") {
            o.version = true;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(name));
        }
    }
    if (o.folders.isEmpty() && !o.help && !o.version)
        return fail(QStringLiteral("no folder given"));
    return o;
}

}  // namespace cli
