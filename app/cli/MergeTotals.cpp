#include "MergeTotals.h"

#include "CountCommand.h"
#include "RecordWriter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

namespace cli {

namespace {

// Adds one input's records; false (with the message written) on a line that is not a record.
bool addRecords(std::FILE *in, const QByteArray &shownName, Totals &totals, std::FILE *err)
{
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    int64_t lineNumber = 0;
    bool ok = true;
    while ((length = ::getline(&line, &capacity, in)) >= 0) {
        ++lineNumber;
        const QByteArray text = QByteArray(line, length).trimmed();
        if (text.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonObject o = QJsonDocument::fromJson(text, &parseError).object();
        const QByteArray type = o.value(QLatin1String("type")).toString().toUtf8();
        if (parseError.error != QJsonParseError::NoError || !o.contains(QLatin1String("path"))
            || (type != "TIFF" && type != "PDF" && type != "other")) {
            std::fprintf(err, "quirewell-count: %s, line %lld: not a file record of --format jsonl\n",
                         shownName.constData(), static_cast<long long>(lineNumber));
            ok = false;
            break;
        }
        ++totals.files;
        if (type == "other")
            continue;
        if (!o.value(QLatin1String("reason")).isNull())
            ++totals.failed;
        else if (type == "TIFF")
            totals.tiffPages += o.value(QLatin1String("pages")).toInteger();
        else
            totals.pdfPages += o.value(QLatin1String("pages")).toInteger();
    }
    if (ok && std::ferror(in)) {
        std::fprintf(err, "quirewell-count: %s: %s\n", shownName.constData(), std::strerror(errno));
        ok = false;
    }
    std::free(line);
    return ok;
}

}  // namespace

int RunMerge(const CliOptions &options, std::FILE *in, std::FILE *out, std::FILE *err)
{
    Totals totals;
    QList<QByteArray> inputs = options.operands;
    if (inputs.isEmpty())
        inputs << "-";
    for (const QByteArray &name : inputs) {
        if (name == "-") {
            if (!addRecords(in, "standard input", totals, err))
                return kExitUsage;
            continue;
        }
        std::FILE *file = std::fopen(name.constData(), "re");
        const QByteArray shown = PrintableName(name, true);
        if (!file) {
            std::fprintf(err, "quirewell-count: %s: %s\n", shown.constData(), std::strerror(errno));
            return kExitUsage;
        }
        const bool ok = addRecords(file, shown, totals, err);
        std::fclose(file);
        if (!ok)
            return kExitUsage;
    }
    RecordWriter writer(options.format, Report::TotalsOnly);
    const QByteArray text = writer.header() + writer.footer(totals);
    errno = 0;
    if (std::fwrite(text.constData(), 1, size_t(text.size()), out) != size_t(text.size()) || std::fflush(out) != 0) {
        std::fprintf(err, "quirewell-count: cannot write the output: %s\n",
                     CountCommand::outputErrorText(errno ? errno : EIO).constData());
        return kExitSomeFailed;
    }
    return totals.failed > 0 ? kExitSomeFailed : kExitCounted;
}

}  // namespace cli
