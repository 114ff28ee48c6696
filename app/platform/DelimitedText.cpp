#include "DelimitedText.h"

namespace platform {

bool DelimitedText::looksLikeFormula(const QByteArray &utf8)
{
    if (utf8.isEmpty())
        return false;
    switch (utf8.front()) {
    case '=':
    case '+':
    case '@':
    case '\t':
    case '\r':
        return true;
    case '-': {
        if (utf8.size() == 1)
            return false;
        // The character after the dash, whole: "-é.pdf" is a name like "-draft.pdf".
        const QString next = QString::fromUtf8(utf8.mid(1, 4));
        return next.isEmpty() || !next.front().isLetter();
    }
    default:
        return false;
    }
}

QByteArray DelimitedText::cell(const QByteArray &utf8, const DelimitedFormat &format)
{
    QByteArray text = format.neutraliseFormulas && looksLikeFormula(utf8) ? '\'' + utf8 : utf8;
    // A line end other than CR LF (a grid's own row separator) is quoted like the separator.
    const bool quote = format.quoteCells && ((!format.separator.isEmpty() && text.contains(format.separator)) || text.contains('"')
                       || text.contains('\r') || text.contains('\n')
                       || (!format.lineEnd.isEmpty() && text.contains(format.lineEnd)));
    if (!quote)
        return text;
    text.replace('"', "\"\"");
    return '"' + text + '"';
}

QByteArray DelimitedText::line(const QList<QByteArray> &cells, const DelimitedFormat &format)
{
    QByteArray out;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            out += format.separator;
        out += cell(cells[i], format);
    }
    return out + format.lineEnd;
}

QByteArray DelimitedText::line(const QStringList &cells, const DelimitedFormat &format)
{
    QList<QByteArray> bytes;
    bytes.reserve(cells.size());
    for (const QString &c : cells)
        bytes << c.toUtf8();
    return line(bytes, format);
}

}  // namespace platform
