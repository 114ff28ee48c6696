#include "CliOptions.h"

#include "SearchFilters.h"

#include <QDate>

#include <cctype>
#include <limits>

namespace cli {

namespace {

struct OptionSpec {
    char shortName;        // 0: long only
    const char *longName;  // nullptr: short only
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {'r', "recursive", false}, {0, "hidden", false},     {0, "filter", true},       {0, "format", true},
    {'j', "jobs", true},       {'0', "null", false},     {0, "summary", false},     {0, "totals-only", false},
    {0, "files0-from", true},  {0, "min-size", true},    {0, "max-size", true},     {0, "newer", true},
    {0, "older", true},        {0, "time", true},        {0, "merge", false},       {'h', "help", false},
    {'V', "version", false},   {0, "no-cache", false},
};

const OptionSpec *findShort(char c)
{
    for (const OptionSpec &o : kOptions)
        if (o.shortName == c)
            return &o;
    return nullptr;
}

const OptionSpec *findLong(const QByteArray &name)
{
    for (const OptionSpec &o : kOptions)
        if (o.longName && name == o.longName)
            return &o;
    return nullptr;
}

bool parseFormat(const QByteArray &text, Format &out)
{
    static const std::pair<const char *, Format> names[] = {
        {"text", Format::Text}, {"csv", Format::Csv}, {"tsv", Format::Tsv}, {"json", Format::Json}, {"jsonl", Format::Jsonl}};
    for (const auto &[name, format] : names)
        if (text == name) {
            out = format;
            return true;
        }
    return false;
}

// The window's size boxes take whole kilobytes that fit 32 bits.
bool parseKilobytes(const QByteArray &text)
{
    return search::TextToWholeNumber(QString::fromUtf8(text), 0, std::numeric_limits<int32_t>::max()).has_value();
}

struct DateBound {
    QDate day;      // valid: a calendar day
    int count = 0;  // otherwise "in the last count days/months"
    bool months = false;
};

// YYYY-MM-DD, or Nd / Nm for the last N days or months.
bool parseDateBound(const QByteArray &text, DateBound &out)
{
    const QDate day = QDate::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (day.isValid() && text.size() == 10) {
        out.day = day;
        return true;
    }
    if (text.size() < 2 || (!text.endsWith('d') && !text.endsWith('m')))
        return false;
    bool ok = false;
    const int n = text.chopped(1).toInt(&ok);
    // The window's period box holds 1 to 32767.
    if (!ok || n < 1 || n > std::numeric_limits<int16_t>::max() || !std::isdigit(uchar(text[0])))
        return false;
    out.count = n;
    out.months = text.endsWith('m');
    return true;
}

}  // namespace

QString UsageText()
{
    return QStringLiteral(
        "usage: quirewell-count [OPTION]... FOLDER|FILE...\n"
        "       quirewell-count [OPTION]... --files0-from LIST\n"
        "       quirewell-count --merge [JSONL-FILE]...\n"
        "Counts the pages of the TIFF and PDF files in each FOLDER, and of each FILE, and prints one\n"
        "record per file (path, type, size, pages, and the reason when a count failed), then the\n"
        "page totals.\n"
        "\n"
        "What is counted:\n"
        "  -r, --recursive        include subfolders\n"
        "      --hidden           include hidden files\n"
        "      --filter P         file-name patterns, separated by commas (default: *.pdf,*.tif,*.tiff);\n"
        "                         they apply to what a folder holds, not to files named on the line\n"
        "      --files0-from LIST also count the files and folders named in LIST, separated by NUL\n"
        "                         bytes (as find -print0 writes them); - reads standard input\n"
        "      --min-size KB      only files of at least KB kilobytes\n"
        "      --max-size KB      only files of at most KB kilobytes\n"
        "      --newer WHEN       only files dated on or after WHEN: a day (2026-01-31), or Nd / Nm\n"
        "                         for the last N days or months, today included\n"
        "      --older DAY        only files dated on or before DAY (the whole day counts)\n"
        "      --time KIND        the date --newer and --older look at: modified (default),\n"
        "                         created or accessed\n"
        "\n"
        "What is written:\n"
        "      --format F         text (default), csv, tsv, json or jsonl (one JSON object a line)\n"
        "      --summary          one line per folder with its subtotals, then the totals\n"
        "      --totals-only      the totals alone\n"
        "  -0, --null             text records end with a NUL byte and hold the exact path\n"
        "      --merge            add up the JSON-lines records of several runs (files or standard\n"
        "                         input) and write their totals\n"
        "  -j, --jobs N           count N files at once (default: as many as keep the disk and\n"
        "                         the processors busy)\n"
        "      --no-cache         count every file again instead of reusing the page counts kept\n"
        "                         for files unchanged since they were last counted\n"
        "  -h, --help             show this help\n"
        "  -V, --version          show the version\n"
        "\n"
        "In csv, tsv and jsonl, and with -0, the totals go to standard error. Backslashes in paths are\n"
        "doubled and bytes that are not UTF-8 written as \\xHH (in text and tsv control characters too).\n"
        "\n"
        "Exit status: 0 every file counted, 1 some file or folder could not be counted or read,\n"
        "2 bad usage, 130 stopped by Ctrl+C (the totals are those so far).\n");
}

CliOptions ParseArguments(const QList<QByteArray> &args)
{
    CliOptions o;
    const auto fail = [&o](const QString &why) {
        o.error = why;
        return o;
    };
    bool optionsEnded = false;
    bool sawNewer = false, sawOlder = false, sawTime = false;
    DateBound newer, older;
    QByteArray minSize, maxSize;

    // One option with its value; false (and o.error set) when it is bad.
    const auto apply = [&](const OptionSpec &option, const QString &shown, const QByteArray &value) {
        const QByteArray name = option.longName ? QByteArray(option.longName) : QByteArray(1, option.shortName);
        if (name == "recursive") {
            o.recursive = true;
        } else if (name == "hidden") {
            o.hidden = true;
        } else if (name == "filter") {
            o.filter = QString::fromUtf8(value);
        } else if (name == "format") {
            if (!parseFormat(value, o.format)) {
                o.error = QStringLiteral("unknown format \"%1\" (text, csv, tsv, json or jsonl)").arg(QString::fromUtf8(value));
                return false;
            }
        } else if (name == "jobs") {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > kMaxJobs) {
                o.error = QStringLiteral("%1 needs a whole number from 1 to %2, not \"%3\"")
                              .arg(shown)
                              .arg(kMaxJobs)
                              .arg(QString::fromUtf8(value));
                return false;
            }
            o.jobs = n;
        } else if (name == "no-cache") {
            o.noCache = true;
        } else if (name == "null") {
            o.nullTerminated = true;
        } else if (name == "summary") {
            o.report = Report::Summary;
        } else if (name == "totals-only") {
            o.report = Report::TotalsOnly;
        } else if (name == "files0-from") {
            if (!o.filesFrom.isNull()) {
                o.error = QStringLiteral("--files0-from may be given once");
                return false;
            }
            if (value.isEmpty()) {
                o.error = QStringLiteral("--files0-from needs a file name (or - for standard input)");
                return false;
            }
            o.filesFrom = value;
        } else if (name == "min-size" || name == "max-size") {
            if (!parseKilobytes(value)) {
                o.error = QStringLiteral("%1 needs a whole number of kilobytes, not \"%2\"").arg(shown, QString::fromUtf8(value));
                return false;
            }
            (name == "min-size" ? minSize : maxSize) = value;
        } else if (name == "newer") {
            if (!parseDateBound(value, newer)) {
                o.error = QStringLiteral("--newer needs a day (YYYY-MM-DD) or a number of days or months "
                                         "(7d, 3m), not \"%1\"").arg(QString::fromUtf8(value));
                return false;
            }
            sawNewer = true;
        } else if (name == "older") {
            if (!parseDateBound(value, older) || !older.day.isValid()) {
                o.error = QStringLiteral("--older needs a day (YYYY-MM-DD), not \"%1\"").arg(QString::fromUtf8(value));
                return false;
            }
            sawOlder = true;
        } else if (name == "time") {
            static const std::pair<const char *, const char *> kinds[] = {
                {"modified", "Files Modified"}, {"created", "Files Created"}, {"accessed", "Files Last Accessed"}};
            bool known = false;
            for (const auto &[word, kind] : kinds)
                if (value == word) {
                    o.criteria.dateKind = QString::fromLatin1(kind);
                    known = true;
                }
            if (!known) {
                o.error = QStringLiteral("--time needs modified, created or accessed, not \"%1\"").arg(QString::fromUtf8(value));
                return false;
            }
            sawTime = true;
        } else if (name == "merge") {
            o.merge = true;
        } else if (name == "help") {
            o.help = true;
        } else if (name == "version") {
            o.version = true;
        }
        return true;
    };

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QByteArray &arg = args[i];
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            o.operands << arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.startsWith("--")) {
            const qsizetype eq = arg.indexOf('=');
            const QByteArray name = arg.mid(2, eq < 0 ? -1 : eq - 2);
            const QString shown = QStringLiteral("--") + QString::fromUtf8(name);
            const OptionSpec *option = findLong(name);
            if (!option)
                return fail(QStringLiteral("unknown option %1").arg(shown));
            QByteArray value;
            if (option->takesValue) {
                if (eq >= 0)
                    value = arg.mid(eq + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return fail(QStringLiteral("option %1 needs a value").arg(shown));
            } else if (eq >= 0) {
                return fail(QStringLiteral("option %1 takes no value").arg(shown));
            }
            if (!apply(*option, shown, value))
                return o;
            continue;
        }
        // A cluster of short options; one that takes a value takes the rest of the cluster.
        for (qsizetype k = 1; k < arg.size(); ++k) {
            const char c = arg[k];
            const OptionSpec *option = findShort(c);
            const QString shown = QStringLiteral("-") + QChar::fromLatin1(c);
            if (!option)
                return fail(QStringLiteral("unknown option %1").arg(QString::fromUtf8(QByteArray("-") + c)));
            QByteArray value;
            if (option->takesValue) {
                if (k + 1 < arg.size())
                    value = arg.mid(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return fail(QStringLiteral("option %1 needs a value").arg(shown));
                if (!apply(*option, shown, value))
                    return o;
                break;
            }
            if (!apply(*option, shown, value))
                return o;
        }
    }
    if (o.help || o.version)
        return o;

    // The window's criteria, as its controls would hold them.
    if (sawNewer || sawOlder) {
        o.criteria.dateTestOn = true;
        if (o.criteria.dateKind.isEmpty())
            o.criteria.dateKind = QStringLiteral("Files Modified");
        if (sawNewer && !newer.day.isValid()) {
            if (sawOlder)
                return fail(QStringLiteral("--older cannot be combined with --newer %1%2")
                                .arg(newer.count)
                                .arg(newer.months ? 'm' : 'd'));
            o.criteria.inTheLastMode = true;
            o.criteria.periodCountText = QString::number(newer.count);
            o.criteria.periodUnit = newer.months ? QStringLiteral("Month(s)") : QStringLiteral("Day(s)");
        } else {
            // An open end is the calendar's end: every file dated at all is inside it.
            o.criteria.rangeStart = (sawNewer ? newer.day : QDate(100, 1, 1)).startOfDay();
            o.criteria.rangeEnd = (sawOlder ? older.day : QDate(9999, 12, 30)).startOfDay();
            if (o.criteria.rangeStart > o.criteria.rangeEnd)
                return fail(QStringLiteral("--newer is after --older: no file can be both"));
        }
    } else if (sawTime) {
        return fail(QStringLiteral("--time needs --newer or --older"));
    }
    if (!minSize.isNull() || !maxSize.isNull()) {
        o.criteria.sizeTestOn = true;
        if (!minSize.isNull() && !maxSize.isNull()) {
            o.criteria.atMode = false;
            o.criteria.sizeFromText = QString::fromUtf8(minSize);
            o.criteria.sizeToText = QString::fromUtf8(maxSize);
        } else {
            o.criteria.atMode = true;
            o.criteria.leastOrMost = minSize.isNull() ? QStringLiteral("Most") : QStringLiteral("Least");
            o.criteria.sizeLimitText = QString::fromUtf8(minSize.isNull() ? maxSize : minSize);
        }
    }

    if (o.nullTerminated && o.format != Format::Text)
        return fail(QStringLiteral("-0 works with --format text only"));
    if (o.merge) {
        if (!o.filesFrom.isNull())
            return fail(QStringLiteral("--merge reads JSON lines, not --files0-from"));
        return o;
    }
    if (o.operands.isEmpty() && o.filesFrom.isNull())
        return fail(QStringLiteral("no folder or file given"));
    return o;
}

}  // namespace cli
