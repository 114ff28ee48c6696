#include "RecordWriter.h"

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

QByteArray csvField(const QByteArray &field)
{
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    QByteArray quoted = field;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
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

}  // namespace

void Totals::add(const search::CountedFile &file)
{
    ++files;
    if (file.type == search::FileType::Other)
        return;
    if (file.pages < 0)
        ++failed;
    else if (file.type == search::FileType::Tiff)
        tiffPages += file.pages;
    else
        pdfPages += file.pages;
}

QByteArray PrintableName(const QByteArray &bytes, bool escapeControls)
{
    bool clean = true;
    for (qsizetype i = 0; i < bytes.size() && clean;) {
        const int len = utf8Length(bytes, i);
        if (len == 0 || (escapeControls && len == 1 && isControl(static_cast<unsigned char>(bytes[i]))))
            clean = false;
        i += len ? len : 1;
    }
    if (clean)
        return bytes;
    QByteArray out;
    out.reserve(bytes.size() * 2);
    for (qsizetype i = 0; i < bytes.size();) {
        const int len = utf8Length(bytes, i);
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (len == 0 || (escapeControls && len == 1 && isControl(c))) {
            appendHex(out, c);
            ++i;
        } else if (c == '\\') {
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

QByteArray PagesText(const search::CountedFile &file)
{
    if (file.type == search::FileType::Other || file.pages < 0)
        return {};
    return QByteArray::number(file.pages);
}

QString ReasonText(const search::CountedFile &file)
{
    if (file.type == search::FileType::Other)
        return {};
    return search::pageResultReason(kindOf(file.type), file.pages);
}

QByteArray RecordWriter::header()
{
    switch (m_format) {
    case Format::Text: return {};
    case Format::Csv: return "path,type,size,pages,reason\n";
    case Format::Tsv: return "path\ttype\tsize\tpages\treason\n";
    case Format::Json: return "{\"files\":[";
    }
    return {};
}

QByteArray RecordWriter::record(const search::CountedFile &file)
{
    const QByteArray size = file.factsKnown ? QByteArray::number(qulonglong(file.size)) : QByteArray();
    const QByteArray pages = PagesText(file);
    const QByteArray reason = ReasonText(file).toUtf8();
    const QByteArray type = TypeName(file.type);
    switch (m_format) {
    case Format::Text: {
        QByteArray line = type.leftJustified(6) + size.rightJustified(13) + pages.rightJustified(9) + "  "
                          + PrintableName(file.path, true);
        if (!reason.isEmpty())
            line += "  (" + reason + ')';
        return line + '\n';
    }
    case Format::Csv:
        return csvField(PrintableName(file.path, false)) + ',' + type + ',' + size + ',' + pages + ','
               + csvField(reason) + '\n';
    case Format::Tsv:
        return PrintableName(file.path, true) + '\t' + type + '\t' + size + '\t' + pages + '\t' + reason + '\n';
    case Format::Json: {
        QByteArray out = m_firstRecord ? "\n" : ",\n";
        m_firstRecord = false;
        out += "{\"path\":" + jsonString(PrintableName(file.path, false)) + ",\"type\":\"" + type
               + "\",\"size\":" + jsonNumberOrNull(size) + ",\"pages\":" + jsonNumberOrNull(pages)
               + ",\"reason\":" + (reason.isEmpty() ? QByteArray("null") : jsonString(reason)) + '}';
        return out;
    }
    }
    return {};
}

QByteArray RecordWriter::footer(const Totals &t)
{
    const QByteArray tiff = QByteArray::number(t.tiffPages);
    const QByteArray pdf = QByteArray::number(t.pdfPages);
    switch (m_format) {
    case Format::Text:
        // The totals line reads as the window's.
        return "Total Pages  TIFF : " + tiff + "  PDF : " + pdf + '\n' + QByteArray::number(t.files)
               + " file(s) found, " + QByteArray::number(t.failed) + " not counted"
               + (t.complete ? "" : ", stopped before the end") + '\n';
    case Format::Csv:
        return ",TIFF total,," + tiff + ",\n,PDF total,," + pdf + ",\n";
    case Format::Tsv:
        return "\tTIFF total\t\t" + tiff + "\t\n\tPDF total\t\t" + pdf + "\t\n";
    case Format::Json:
        return QByteArray(m_firstRecord ? "" : "\n") + "],\n\"totals\":{\"tiffPages\":" + tiff + ",\"pdfPages\":" + pdf
               + ",\"files\":" + QByteArray::number(t.files) + ",\"failed\":" + QByteArray::number(t.failed)
               + ",\"complete\":" + (t.complete ? "true" : "false") + "}}\n";
    }
    return {};
}

}  // namespace cli
