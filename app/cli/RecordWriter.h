#pragma once
// The output of quirewell-count: one record per counted file in walk order, then the totals, in
// text, CSV, TSV or JSON. Pure formatting: the caller writes the bytes where it likes.

#include "CliOptions.h"
#include "SearchCore.h"

#include <QByteArray>
#include <cstdint>

namespace cli {

struct Totals {
    int64_t tiffPages = 0;
    int64_t pdfPages = 0;
    int64_t files = 0;
    int64_t failed = 0;    // TIFF or PDF files whose count failed
    bool complete = true;  // false when stopped before the end

    void add(const search::CountedFile &file);
};

// A file name as printable UTF-8. Names that are valid UTF-8 (and, with escapeControls, hold no
// control character) come back unchanged. In any other name every byte that is not part of a
// UTF-8 character (and every control character) becomes \xHH and every backslash \\, so the
// exact bytes can be told back from the text.
QByteArray PrintableName(const QByteArray &bytes, bool escapeControls);

// "TIFF", "PDF" or "other".
QByteArray TypeName(search::FileType type);
// The page count as text, empty when the count failed (or the file is not counted).
QByteArray PagesText(const search::CountedFile &file);
// Why the count failed, in words; empty when it did not.
QString ReasonText(const search::CountedFile &file);

class RecordWriter
{
public:
    explicit RecordWriter(Format format) : m_format(format) {}

    QByteArray header();
    QByteArray record(const search::CountedFile &file);
    QByteArray footer(const Totals &totals);

private:
    Format m_format;
    bool m_firstRecord = true;
};

}  // namespace cli
