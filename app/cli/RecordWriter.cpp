#include "RecordWriter.h"

#include "DelimitedText.h"
#include "PageResult.h"

namespace cli {

namespace {

// Length of the UTF-8 character at s[i], or 0 when the bytes there are not one (overlong forms,
// surrogates and code points past U+10FFFF included).
int utf8Length(const QByteArray &s, qsizetype i)
{
    const auto b = [&](qsizetype k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    int len = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (int k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

void appendHex(QByteArray &out, unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

// Reasons, type names and numbers hold no tab or line break; only names need the escaping.
QByteArray jsonString(const QByteArray &utf8)
{
    QByteArray out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
            } else {
                out += ch;
            }
        }
    }
    return out + '"';
}

QByteArray jsonNumberOrNull(const QByteArray &text)
{
    return text.isEmpty() ? QByteArray("null") : text;
}

search::CounterKind kindOf(search::FileType type)
{
    return type == search::FileType::Tiff ? search::CounterKind::Tiff : search::CounterKind::Pdf;
}

QByteArray delimited(Format format, const QList<QByteArray> &cells)
{
    platform::DelimitedFormat f;
    f.separator = format == Format::Tsv ? "\t" : ",";
    f.lineEnd = "\n";
    // Data for scripts: a name is written exactly, never altered to please a spreadsheet.
    f.neutraliseFormulas = false;
    // TSV has no quoting: its names are written with tabs and line breaks escaped instead.
    f.quoteCells = format != Format::Tsv;
    return platform::DelimitedText::line(cells, f);
}

QByteArray totalsJson(const Totals &t)
{
    return "{\"tiffPages\":" + QByteArray::number(t.tiffPages) + ",\"pdfPages\":" + QByteArray::number(t.pdfPages)
           + ",\"files\":" + QByteArray::number(t.files) + ",\"failed\":" + QByteArray::number(t.failed)
           + ",\"complete\":" + (t.complete ? "true" : "false") + '}';
}

QList<QByteArray> totalsCells(const Totals &t)
{
    return {QByteArray::number(t.tiffPages), QByteArray::number(t.pdfPages), QByteArray::number(t.files),
            QByteArray::number(t.failed), t.complete ? "yes" : "no"};
}

QList<QByteArray> folderCells(const QByteArray &name, const Totals &t)
{
    return {name, QByteArray::number(t.files), QByteArray::number(t.tiffPages), QByteArray::number(t.pdfPages),
            QByteArray::number(t.failed)};
}

bool isLineFormat(Format f)
{
    return f == Format::Csv || f == Format::Tsv || f == Format::Jsonl;
}

}  // namespace

void Totals::add(const search::CountedFile &file)
{
    ++files;
    if (file.type == search::FileType::Other)
        return;
    if (NotCounted(file))
        ++failed;
    else if (file.type == search::FileType::Tiff)
        tiffPages += file.pages;
    else
        pdfPages += file.pages;
}

QByteArray PrintableName(const QByteArray &bytes, bool escapeControls)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const int len = utf8Length(bytes, i);
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (len == 0 || (escapeControls && len == 1 && isControl(c))) {
            appendHex(out, c);
            ++i;
        } else if (c == '\\') {
            // Always, or a name holding the text "\xFF" would print as the byte 0xFF does.
            out += "\\\\";
            ++i;
        } else {
            out += bytes.mid(i, len);
            i += len;
        }
    }
    return out;
}

QByteArray TypeName(search::FileType type)
{
    switch (type) {
    case search::FileType::Tiff: return "TIFF";
    case search::FileType::Pdf: return "PDF";
    case search::FileType::Other: break;
    }
    return "other";
}

bool NotCounted(const search::CountedFile &file)
{
    if (file.type == search::FileType::Other)
        return false;
    // A TIFF of 0 pages is one libtiff could not read: not a count either.
    return file.pages < 0 || !ReasonText(file).isEmpty();
}

QByteArray PagesText(const search::CountedFile &file)
{
    if (file.type == search::FileType::Other || NotCounted(file))
        return {};
    return QByteArray::number(file.pages);
}

QString ReasonText(const search::CountedFile &file)
{
    if (file.type == search::FileType::Other)
        return {};
    return search::pageResultReason(kindOf(file.type), file.pages);
}

QByteArray TotalsText(const Totals &t)
{
    // The first line reads as the window's.
    return "Total Pages  TIFF : " + QByteArray::number(t.tiffPages) + "  PDF : " + QByteArray::number(t.pdfPages)
           + '\n' + QByteArray::number(t.files) + " file(s) found, " + QByteArray::number(t.failed) + " not counted"
           + (t.complete ? "" : ", stopped before the end") + '\n';
}

QByteArray RecordWriter::nextItem()
{
    const bool first = m_firstItem;
    m_firstItem = false;
    return first ? "\n" : ",\n";
}

QByteArray RecordWriter::header()
{
    switch (m_report) {
    case Report::Files:
        switch (m_format) {
        case Format::Csv:
        case Format::Tsv: return delimited(m_format, {"path", "type", "size", "pages", "reason"});
        case Format::Json: return "{\"files\":[";
        case Format::Text:
        case Format::Jsonl: return {};
        }
        break;
    case Report::Summary:
        switch (m_format) {
        case Format::Csv:
        case Format::Tsv: return delimited(m_format, {"folder", "files", "tiffPages", "pdfPages", "failed"});
        case Format::Json: return "{\"folders\":[";
        case Format::Text:
            // Records ending in NUL are read by programs, which know the columns.
            return m_null ? QByteArray() : QByteArray("    files TIFF pages  PDF pages   failed  folder\n");
        case Format::Jsonl: return {};
        }
        break;
    case Report::TotalsOnly:
        if (m_format == Format::Csv || m_format == Format::Tsv)
            return delimited(m_format, {"tiffPages", "pdfPages", "files", "failed", "complete"});
        break;
    }
    return {};
}

QByteArray RecordWriter::record(const search::CountedFile &file)
{
    if (m_report != Report::Files)
        return {};
    const QByteArray size = file.factsKnown ? QByteArray::number(qulonglong(file.size)) : QByteArray();
    const QByteArray pages = PagesText(file);
    const QByteArray reason = ReasonText(file).toUtf8();
    const QByteArray type = TypeName(file.type);
    switch (m_format) {
    case Format::Text: {
        QByteArray line = type.leftJustified(6) + size.rightJustified(13) + pages.rightJustified(9) + "  "
                          + (m_null ? file.path : PrintableName(file.path, true));
        if (!reason.isEmpty())
            line += "  (" + reason + ')';
        return line + (m_null ? '\0' : '\n');
    }
    case Format::Csv:
        return delimited(m_format, {PrintableName(file.path, false), type, size, pages, reason});
    case Format::Tsv:
        return delimited(m_format, {PrintableName(file.path, true), type, size, pages, reason});
    case Format::Json:
    case Format::Jsonl: {
        QByteArray out = m_format == Format::Json ? nextItem() : QByteArray();
        out += "{\"path\":" + jsonString(PrintableName(file.path, false)) + ",\"type\":\"" + type
               + "\",\"size\":" + jsonNumberOrNull(size) + ",\"pages\":" + jsonNumberOrNull(pages)
               + ",\"reason\":" + (reason.isEmpty() ? QByteArray("null") : jsonString(reason)) + '}';
        return m_format == Format::Jsonl ? out + '\n' : out;
    }
    }
    return {};
}

QByteArray RecordWriter::folder(const QByteArray &path, const Totals &t)
{
    if (m_report != Report::Summary)
        return {};
    switch (m_format) {
    case Format::Text:
        return QByteArray::number(t.files).rightJustified(9) + QByteArray::number(t.tiffPages).rightJustified(11)
               + QByteArray::number(t.pdfPages).rightJustified(11) + QByteArray::number(t.failed).rightJustified(9)
               + "  " + (m_null ? path : PrintableName(path, true)) + (m_null ? '\0' : '\n');
    case Format::Csv:
        return delimited(m_format, folderCells(PrintableName(path, false), t));
    case Format::Tsv:
        return delimited(m_format, folderCells(PrintableName(path, true), t));
    case Format::Json:
    case Format::Jsonl: {
        QByteArray out = m_format == Format::Json ? nextItem() : QByteArray();
        out += "{\"folder\":" + jsonString(PrintableName(path, false)) + ",\"files\":" + QByteArray::number(t.files)
               + ",\"tiffPages\":" + QByteArray::number(t.tiffPages) + ",\"pdfPages\":"
               + QByteArray::number(t.pdfPages) + ",\"failed\":" + QByteArray::number(t.failed) + '}';
        return m_format == Format::Jsonl ? out + '\n' : out;
    }
    }
    return {};
}

QByteArray RecordWriter::footer(const Totals &t)
{
    switch (m_format) {
    case Format::Text:
        return m_null && m_report != Report::TotalsOnly ? QByteArray() : TotalsText(t);
    case Format::Csv:
    case Format::Tsv:
        return m_report == Report::TotalsOnly ? delimited(m_format, totalsCells(t)) : QByteArray();
    case Format::Jsonl:
        return m_report == Report::TotalsOnly ? totalsJson(t) + '\n' : QByteArray();
    case Format::Json:
        if (m_report == Report::TotalsOnly)
            return "{\"totals\":" + totalsJson(t) + "}\n";
        return QByteArray(m_firstItem ? "" : "\n") + "],\n\"totals\":" + totalsJson(t) + "}\n";
    }
    return {};
}

QByteArray RecordWriter::totalsForErr(const Totals &t) const
{
    if (m_report == Report::TotalsOnly)
        return {};
    if (isLineFormat(m_format) || (m_format == Format::Text && m_null))
        return TotalsText(t);
    return {};
}

}  // namespace cli
