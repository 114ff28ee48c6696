#pragma once
// The output of quirewell-count: one record per counted file in walk order (or one per folder,
// or none), then the totals, in text, CSV, TSV, JSON or JSON lines. Pure formatting: the caller
// writes the bytes where it likes. Delimited and line formats carry records only; their totals
// are meant for standard error (totalsForErr), so summing a column never counts them twice.

#include "CliOptions.h"
#include "SearchCore.h"

#include <QByteArray>
#include <cstdint>

namespace cli {

struct Totals {
    int64_t tiffPages = 0;
    int64_t pdfPages = 0;
    int64_t files = 0;
    int64_t failed = 0;    // TIFF or PDF files that were not counted
    bool complete = true;  // false when stopped before the end

    void add(const search::CountedFile &file);
};

// A file name as printable UTF-8, one text for every distinct name: a backslash becomes \\, a
// byte that is not part of a UTF-8 character \xHH, and with escapeControls every control
// character \xHH too. Names without any of these come back unchanged.
QByteArray PrintableName(const QByteArray &bytes, bool escapeControls);

// "TIFF", "PDF" or "other".
QByteArray TypeName(search::FileType type);
// The page count as text, empty when the file was not counted.
QByteArray PagesText(const search::CountedFile &file);
// Why the file was not counted, in words; empty when it was (and for files of other types).
QString ReasonText(const search::CountedFile &file);
// True for a TIFF or PDF file whose count failed.
bool NotCounted(const search::CountedFile &file);

// The two totals lines of the text format (also what the other formats put on standard error).
QByteArray TotalsText(const Totals &totals);

class RecordWriter
{
public:
    RecordWriter(Format format, Report report = Report::Files, bool nullTerminated = false)
        : m_format(format), m_report(report), m_null(nullTerminated)
    {
    }

    QByteArray header();
    QByteArray record(const search::CountedFile &file);
    // One folder's subtotals (Report::Summary).
    QByteArray folder(const QByteArray &path, const Totals &totals);
    // What ends standard output.
    QByteArray footer(const Totals &totals);
    // What goes to standard error at the end: the totals of formats that keep them out of the data.
    QByteArray totalsForErr(const Totals &totals) const;

private:
    QByteArray nextItem();

    Format m_format;
    Report m_report;
    bool m_null;
    bool m_firstItem = true;
};

}  // namespace cli
