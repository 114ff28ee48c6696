#include "ProfileDocument.h"

#include "CheckedWrite.h"
#include "FileAccess.h"
#include "FileNames.h"

#include <QDir>
#include <QFile>

namespace platform {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimBlanks(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.mid(b, e - b).toString();
}

// The first n characters, never splitting a surrogate pair.
QString cutTo(const QString &text, int bufferSize)
{
    if (bufferSize <= 1)
        return QString();
    qsizetype n = bufferSize - 1;
    if (text.size() <= n)
        return text;
    if (text[n - 1].isHighSurrogate())
        --n;
    return text.left(n);
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(0));
}

// Text in the file is UTF-8, but a path the user stored may hold any bytes: those decode to the
// escapes of FileNames.h and encode back to the very same bytes.
QString decode(const QByteArray &bytes)
{
    return pathToText(bytes);
}

QByteArray encode(const QString &text)
{
    return pathFromText(text);
}

}  // namespace

ProfileDocument::Line ProfileDocument::parseLine(const QByteArray &raw, bool first)
{
    Line line;
    line.raw = raw;
    QByteArray bytes = raw;
    if (first && bytes.startsWith(kBom))
        bytes.remove(0, kBom.size());
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    const QString text = trimBlanks(decode(bytes));
    if (text.isEmpty() || text.startsWith(u';') || text.startsWith(u'#'))
        return line;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        line.kind = Line::Section;
        line.name = trimBlanks(QStringView(text).mid(1, close < 0 ? -1 : close - 1));
        return line;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0)
        return line;
    line.name = trimBlanks(QStringView(text).left(eq));
    if (line.name.isEmpty())
        return line;
    line.kind = Line::Key;
    line.value = trimBlanks(QStringView(text).mid(eq + 1));
    return line;
}

bool ProfileDocument::load(const QString &filePath, QString *error)
{
    m_lines.clear();
    m_endsWithNewline = true;
    // Without blocking and within a bound: a FIFO under the name must not hang the caller, and a
    // huge file is not what anyone meant as a profile.
    const QByteArray name = QFile::encodeName(filePath);
    std::string bytes;
    std::string reason;
    switch (comrt::ReadRegularFile(std::string(name.constData(), size_t(name.size())), kMaxProfileBytes,
                                   &bytes, &reason)) {
    case comrt::ReadResult::Missing:
        return true;
    case comrt::ReadResult::Failed:
        setError(error, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(filePath), QString::fromLocal8Bit(reason.c_str())));
        return false;
    case comrt::ReadResult::Ok:
        break;
    }
    setContents(QByteArray(bytes.data(), qsizetype(bytes.size())));
    return true;
}

void ProfileDocument::setContents(const QByteArray &bytes)
{
    m_lines.clear();
    m_endsWithNewline = bytes.isEmpty() || bytes.endsWith('\n');
    if (bytes.isEmpty())
        return;
    QList<QByteArray> pieces = bytes.split('\n');
    if (m_endsWithNewline)
        pieces.removeLast();
    m_lines.reserve(size_t(pieces.size()));
    for (const QByteArray &piece : pieces)
        m_lines.push_back(parseLine(piece, m_lines.empty()));
}

QByteArray ProfileDocument::contents() const
{
    QByteArray out;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i].raw;
        if (i + 1 < m_lines.size() || m_endsWithNewline)
            out += '\n';
    }
    return out;
}

int ProfileDocument::findSection(QStringView section) const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (l.kind == Line::Section && l.name.compare(section, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

int ProfileDocument::sectionEnd(int header) const
{
    for (size_t i = size_t(header) + 1; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Line::Section)
            return int(i);
    return int(m_lines.size());
}

int ProfileDocument::findKey(int header, QStringView key) const
{
    const int end = sectionEnd(header);
    for (int i = header + 1; i < end; ++i) {
        const Line &l = m_lines[size_t(i)];
        if (l.kind == Line::Key && l.name.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QByteArray ProfileDocument::lineEnding() const
{
    // New lines follow the file's own convention, judged by its first line that has an end (a
    // last line without one says nothing about it).
    if (m_lines.empty() || (m_lines.size() == 1 && !m_endsWithNewline))
        return QByteArray();
    if (m_lines.front().raw.endsWith('\r'))
        return QByteArrayLiteral("\r");
    return QByteArray();
}

void ProfileDocument::endLastLine()
{
    // A last line without its line end gets the file's own before anything follows it, so a CR LF
    // file never ends up with a bare LF in the middle.
    if (m_endsWithNewline || m_lines.empty())
        return;
    Line &last = m_lines.back();
    const QByteArray eol = lineEnding();
    if (!last.raw.endsWith('\r'))
        last.raw += eol;
    m_endsWithNewline = true;
}

bool ProfileDocument::isBlankLine(const Line &line)
{
    QByteArray bytes = line.raw;
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return trimBlanks(decode(bytes)).isEmpty();
}

QString ProfileDocument::value(QStringView section, QStringView key, const QString &defaultValue,
                               int bufferSize) const
{
    const int header = findSection(section);
    const int line = header < 0 ? -1 : findKey(header, key);
    return cutTo(line < 0 ? defaultValue : m_lines[size_t(line)].value, bufferSize);
}

bool ProfileDocument::contains(QStringView section, QStringView key) const
{
    const int header = findSection(section);
    return header >= 0 && findKey(header, key) >= 0;
}

bool ProfileDocument::setValue(const QString &section, const QString &key, const QString &value,
                               QString *error)
{
    const QString s = trimBlanks(section);
    const QString k = trimBlanks(key);
    if (s.isEmpty() || hasLineBreak(s) || s.contains(u']')) {
        setError(error, QStringLiteral("Invalid section name \"%1\".").arg(section));
        return false;
    }
    if (k.isEmpty() || hasLineBreak(k) || k.contains(u'=') || k.startsWith(u'[')
        || k.startsWith(u';') || k.startsWith(u'#')) {
        setError(error, QStringLiteral("Invalid key name \"%1\".").arg(key));
        return false;
    }
    if (hasLineBreak(value)) {
        setError(error, QStringLiteral("The value of \"%1\" holds a line break.").arg(key));
        return false;
    }

    const QByteArray eol = lineEnding();
    int header = findSection(s);
    if (header < 0) {
        endLastLine();
        if (!m_lines.empty() && !isBlankLine(m_lines.back()))
            m_lines.push_back(parseLine(eol, false));
        m_lines.push_back(parseLine('[' + encode(s) + ']' + eol, m_lines.empty()));
        m_lines.push_back(parseLine(encode(k) + '=' + encode(value) + eol, false));
        m_endsWithNewline = true;
        return true;
    }

    const int existing = findKey(header, k);
    if (existing >= 0) {
        Line &l = m_lines[size_t(existing)];
        // The same value leaves the line as it was, byte for byte.
        if (l.value == trimBlanks(value))
            return true;
        // Keep the key's own spelling and spacing; only the text after '=' changes.
        qsizetype cut = l.raw.indexOf('=') + 1;
        while (cut < l.raw.size() && (l.raw[cut] == ' ' || l.raw[cut] == '\t'))
            ++cut;
        const QByteArray prefix = l.raw.left(cut);
        const QByteArray cr = l.raw.endsWith('\r') ? QByteArrayLiteral("\r") : QByteArray();
        l = parseLine(prefix + encode(value) + cr, existing == 0);
        return true;
    }

    // After the last key of the section, so trailing blank lines and comments stay with
    // whatever follows them.
    int insertAt = header + 1;
    const int end = sectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (m_lines[size_t(i)].kind == Line::Key)
            insertAt = i + 1;
    if (insertAt == int(m_lines.size()))
        endLastLine();
    m_lines.insert(m_lines.begin() + insertAt, parseLine(encode(k) + '=' + encode(value) + eol, false));
    return true;
}

bool ProfileDocument::save(const QString &filePath, QString *error) const
{
    return writeFileChecked(filePath, contents(), error);
}

QString readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                          int bufferSize, const QString &filePath)
{
    ProfileDocument doc;
    doc.load(filePath);  // an unreadable file reads as an empty one: every key takes its default
    return doc.value(section, key, defaultValue, bufferSize);
}

bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &filePath, QString *error)
{
    ProfileDocument doc;
    return doc.load(filePath, error) && doc.setValue(section, key, value, error) && doc.save(filePath, error);
}

}  // namespace platform
