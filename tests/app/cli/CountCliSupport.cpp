#include "CountCliTest.h"

#include "PdfFixtures.h"
#include "TestDocuments.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <filesystem>

namespace clitest {

namespace {

void makeParent(const QByteArray &path)
{
    std::filesystem::create_directories(std::filesystem::path(path.toStdString()).parent_path());
}

// RFC 4180: quoted fields may hold separators, quotes (doubled) and line breaks.
bool splitCsv(const QByteArray &text, std::vector<std::vector<QByteArray>> &rows)
{
    std::vector<QByteArray> row;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.isEmpty()) {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n') {
            row.push_back(field);
            field.clear();
            rows.push_back(row);
            row.clear();
        } else {
            field += c;
        }
    }
    return !quoted && field.isEmpty() && row.empty();
}

bool fromRows(const std::vector<std::vector<QByteArray>> &rows, Parsed &p)
{
    if (rows.empty() || rows[0] != std::vector<QByteArray>{"path", "type", "size", "pages", "reason"}) {
        p.why = "no header line";
        return false;
    }
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto &r = rows[i];
        if (r.size() != 5) {
            p.why = "a line without five fields";
            return false;
        }
        p.records.push_back({r[0], r[1], r[2], r[3], r[4]});
    }
    return true;
}

// The two totals lines, taken off the end of lines.
bool parseTotals(QList<QByteArray> &lines, Parsed &p)
{
    if (lines.size() < 3 || !lines.back().isEmpty()) {
        p.why = "no totals";
        return false;
    }
    lines.removeLast();
    const QByteArray count = lines.takeLast();
    const QByteArray totals = lines.takeLast();
    if (!count.contains(" file(s) found, ")) {
        p.why = "no file count line";
        return false;
    }
    const QByteArray prefix = "Total Pages  TIFF : ";
    const qsizetype pdfAt = totals.indexOf("  PDF : ");
    if (!totals.startsWith(prefix) || pdfAt < 0) {
        p.why = "no totals line";
        return false;
    }
    p.tiffTotal = totals.mid(prefix.size(), pdfAt - prefix.size()).toLongLong();
    p.pdfTotal = totals.mid(pdfAt + 8).toLongLong();
    return true;
}

// Totals on standard error: its last two lines.
bool parseErrTotals(const QByteArray &err, Parsed &p)
{
    QList<QByteArray> lines = err.split('\n');
    return parseTotals(lines, p);
}

bool parseText(const QByteArray &out, Parsed &p)
{
    QList<QByteArray> lines = out.split('\n');
    if (!parseTotals(lines, p))
        return false;
    for (const QByteArray &line : lines) {
        // Fixed columns: type (6), size (13), pages (9), two blanks, the path, "  (reason)".
        if (line.size() < 30) {
            p.why = "a short record line";
            return false;
        }
        Record r;
        r.type = line.left(6).trimmed();
        r.size = line.mid(6, 13).trimmed();
        r.pages = line.mid(19, 9).trimmed();
        r.path = line.mid(30);
        if (r.path.endsWith(')')) {
            const qsizetype open = r.path.lastIndexOf("  (");
            if (open > 0) {
                r.reason = r.path.mid(open + 3, r.path.size() - open - 4);
                r.path.truncate(open);
            }
        }
        p.records.push_back(r);
    }
    return true;
}

Record recordOf(const QJsonObject &o)
{
    const auto number = [](const QJsonValue &v) {
        return v.isNull() ? QByteArray() : QByteArray::number(qint64(v.toDouble()));
    };
    return {o.value("path").toString().toUtf8(), o.value("type").toString().toUtf8(), number(o.value("size")),
            number(o.value("pages")),
            o.value("reason").isNull() ? QByteArray() : o.value("reason").toString().toUtf8()};
}

bool parseJsonLines(const QByteArray &out, Parsed &p)
{
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            p.why = "a line that is not one JSON object: " + line.toStdString();
            return false;
        }
        p.records.push_back(recordOf(doc.object()));
    }
    return true;
}

bool parseJson(const QByteArray &out, Parsed &p)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError) {
        p.why = error.errorString().toStdString();
        return false;
    }
    for (const QJsonValue &v : doc.object().value("files").toArray())
        p.records.push_back(recordOf(v.toObject()));
    const QJsonObject totals = doc.object().value("totals").toObject();
    p.tiffTotal = qint64(totals.value("tiffPages").toDouble(-1));
    p.pdfTotal = qint64(totals.value("pdfPages").toDouble(-1));
    return true;
}

}  // namespace

RemoveAll::~RemoveAll()
{
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path.toStdString()), ec);
}

namespace {

Output finish(QProcess &process)
{
    Output o;
    if (!process.waitForStarted() || !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        o.err = "did not run to its end: " + process.errorString().toUtf8();
        return o;
    }
    o.ran = process.exitStatus() == QProcess::NormalExit;
    o.status = process.exitCode();
    o.out = process.readAllStandardOutput();
    o.err = process.readAllStandardError();
    return o;
}

}  // namespace

Output runCount(const QStringList &args, const QString &program, const QByteArray &input)
{
    QProcess process;
    process.start(program.isEmpty() ? testdocs::binDir() + QStringLiteral("/quirewell-count") : program, args);
    if (process.waitForStarted()) {
        process.write(input);
        process.closeWriteChannel();
    }
    return finish(process);
}

Output runShell(const QString &script)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QWC"), testdocs::binDir() + QStringLiteral("/quirewell-count"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    return finish(process);
}

Parsed parse(const QString &format, const QByteArray &out, const QByteArray &err)
{
    Parsed p;
    if (format == QLatin1String("text")) {
        p.ok = parseText(out, p);
    } else if (format == QLatin1String("json")) {
        p.ok = parseJson(out, p);
    } else if (format == QLatin1String("jsonl")) {
        p.ok = parseJsonLines(out, p) && parseErrTotals(err, p);
    } else {
        std::vector<std::vector<QByteArray>> rows;
        if (format == QLatin1String("csv")) {
            if (!splitCsv(out, rows)) {
                p.why = "unbalanced quotes";
                return p;
            }
        } else {
            for (const QByteArray &line : out.split('\n'))
                if (!line.isEmpty()) {
                    std::vector<QByteArray> row;
                    for (const QByteArray &f : line.split('\t'))
                        row.push_back(f);
                    rows.push_back(row);
                }
        }
        p.ok = fromRows(rows, p) && parseErrTotals(err, p);
    }
    return p;
}

void tiff(const QByteArray &path, int pages)
{
    makeParent(path);
    testdocs::writeTiff(path, pages);
}

void pdf(const QByteArray &path, int pages)
{
    makeParent(path);
    testdocs::writePdf(path, pages);
}

void bytes(const QByteArray &path, const QByteArray &content)
{
    makeParent(path);
    testdocs::writeBytes(path, content);
}

void encryptedPdf(const QByteArray &path)
{
    makeParent(path);
    pdffix::writeFile(path.toStdString(),
                      pdffix::qpdfDocument(3, {.encrypt = true, .userPassword = "user", .ownerPassword = "owner"}));
}

}  // namespace clitest
