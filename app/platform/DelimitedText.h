#pragma once
// Delimited text (CSV, TSV or any one-character separator), the one writer both the export and
// quirewell-count use. Works on UTF-8 bytes; the separator may be any UTF-8 character.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

struct DelimitedFormat {
    QByteArray separator = ",";
    QByteArray lineEnd = "\r\n";
    // A cell a spreadsheet would take for a formula gets a leading apostrophe.
    bool neutraliseFormulas = false;
    // False for formats without quoting (TSV), whose cells the caller has made free of the
    // separator and of line breaks: a double quote is then an ordinary character.
    bool quoteCells = true;
};

class DelimitedText
{
public:
    // True for text starting with "=", "+", "@", a tab or a carriage return, or with "-"
    // followed by anything but a letter ("-draft.pdf" is a name, "-2+3" a formula).
    static bool looksLikeFormula(const QByteArray &utf8);

    // One cell as written: neutralised when asked, then put in double quotes (its quotes
    // doubled) when it holds the separator, the line end, a double quote, a carriage return or
    // a line feed.
    static QByteArray cell(const QByteArray &utf8, const DelimitedFormat &format);

    // The cells joined by the separator, with the line end.
    static QByteArray line(const QList<QByteArray> &cells, const DelimitedFormat &format);
    static QByteArray line(const QStringList &cells, const DelimitedFormat &format);
};

}  // namespace platform
