#pragma once
// The command line of quirewell-count.

#include <QByteArray>
#include <QList>
#include <QString>

namespace cli {

enum class Format { Text, Csv, Tsv, Json };

struct CliOptions {
    bool recursive = false;
    bool hidden = false;
    QString filter = QStringLiteral("*.pdf,*.tif,*.tiff");  // the window's default filter
    Format format = Format::Text;
    int jobs = 0;                 // 0: automatic
    bool noCache = false;         // count every file, neither using nor filling the cache
    QList<QByteArray> folders;    // as given: file names are bytes
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
