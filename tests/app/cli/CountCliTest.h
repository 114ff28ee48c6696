#pragma once
// Running quirewell-count and reading its output back, for the command-line tests and the
// install and package tests.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

struct Output {
    bool ran = false;
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program (default: quirewell-count of this build) to its end, input on its standard
// input (none: standard input is closed at once).
Output runCount(const QStringList &args, const QString &program = {}, const QByteArray &input = {});
// Runs a bash script to its end, with $QWC set to this build's quirewell-count.
Output runShell(const QString &script);

struct Record {
    QByteArray path, type, size, pages, reason;
    bool operator==(const Record &) const = default;
};

struct Parsed {
    bool ok = false;
    std::string why;
    std::vector<Record> records;
    int64_t tiffTotal = -1;
    int64_t pdfTotal = -1;
};

// Reads records and totals back from one format's output (text, csv, tsv, json, jsonl); err is
// what went to standard error, where csv, tsv and jsonl put their totals.
Parsed parse(const QString &format, const QByteArray &out, const QByteArray &err);

// Removes a folder and everything below it, names that are not UTF-8 included (QTemporaryDir
// cannot), when it goes.
struct RemoveAll {
    QByteArray path;
    ~RemoveAll();
};

// Files for the cases; parent folders are made as needed.
void tiff(const QByteArray &path, int pages);
void pdf(const QByteArray &path, int pages);
void bytes(const QByteArray &path, const QByteArray &content);
void encryptedPdf(const QByteArray &path);

}  // namespace clitest

// Records read well in failure messages.
#include <ostream>
inline std::ostream &operator<<(std::ostream &os, const clitest::Record &r)
{
    return os << "{" << r.path.toStdString() << " | " << r.type.toStdString() << " | " << r.size.toStdString()
              << " | " << r.pages.toStdString() << " | " << r.reason.toStdString() << "}";
}
