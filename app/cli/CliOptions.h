#pragma once
// The command line of quirewell-count, read by getopt's rules: short options may be clustered
// ("-rj2"), a value follows its option directly or as the next argument, long options take
// "--name=value" or "--name value", "--" ends the options, and options may follow operands.

#include "SearchCriteria.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace cli {

enum class Format { Text, Csv, Tsv, Json, Jsonl };
// What is written: a record per file, a line per folder, or the totals alone.
enum class Report { Files, Summary, TotalsOnly };

struct CliOptions {
    bool recursive = false;
    bool hidden = false;
    QString filter = QStringLiteral("*.pdf,*.tif,*.tiff");  // the window's default filter
    Format format = Format::Text;
    Report report = Report::Files;
    bool nullTerminated = false;  // -0: text records end in NUL and hold the path's exact bytes
    int jobs = 0;                 // 0: automatic
    QList<QByteArray> operands;   // folders and files as given: file names are bytes
    QByteArray filesFrom;         // --files0-from: a file of NUL-separated paths, "-" standard input
    bool merge = false;           // --merge: operands are JSON-lines outputs to total up
    // The window's date and size windows, as its controls would hold them.
    search::SearchCriteria criteria;
    bool noCache = false;         // count every file, neither using nor filling the cache
    bool help = false;
    bool version = false;
    QString error;                // bad usage, in words; empty when the line is usable
};

// args: the arguments after the program name, as bytes.
CliOptions ParseArguments(const QList<QByteArray> &args);

// The --help text.
QString UsageText();

constexpr int kMaxJobs = 64;

}  // namespace cli
