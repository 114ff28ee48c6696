// Records and totals in each format; names that are not UTF-8 or hold separators.
#include "RecordWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

using search::CountedFile;
using search::FileType;

struct NameCase {
    const char *name;
    QByteArray bytes;
    bool escapeControls;
    QByteArray expected;
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

class PrintableNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PrintableNameTest, Escapes)
{
    const NameCase &c = GetParam();
    EXPECT_EQ(cli::PrintableName(c.bytes, c.escapeControls).toStdString(), c.expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Names, PrintableNameTest,
    ::testing::Values(
        NameCase{"Ascii", "/s/a b.pdf", true, "/s/a b.pdf"},
        NameCase{"Utf8", "/s/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84.tif", true, "/s/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84.tif"},
        NameCase{"BackslashInCleanNameDoubled", "/s/a\\b.pdf", true, "/s/a\\\\b.pdf"},
        NameCase{"BackslashDoubledInCsvAndJsonToo", "/s/a\\b.pdf", false, "/s/a\\\\b.pdf"},
        NameCase{"Latin1Byte", "/s/caf\xE9.tif", false, "/s/caf\\xE9.tif"},
        NameCase{"BackslashDoubledOnceEscaped", "/s/a\\\xFF.pdf", false, "/s/a\\\\\\xFF.pdf"},
        NameCase{"TruncatedSequence", "/s/\xE2\x82.pdf", false, "/s/\\xE2\\x82.pdf"},
        NameCase{"Overlong", "/s/\xC0\xAF.pdf", false, "/s/\\xC0\\xAF.pdf"},
        NameCase{"Surrogate", "/s/\xED\xA0\x80.pdf", false, "/s/\\xED\\xA0\\x80.pdf"},
        NameCase{"BeyondUnicode", "/s/\xF4\x90\x80\x80.pdf", false, "/s/\\xF4\\x90\\x80\\x80.pdf"},
        NameCase{"NewlineKeptWhenControlsAllowed", "/s/a\nb.pdf", false, "/s/a\nb.pdf"},
        NameCase{"NewlineEscaped", "/s/a\nb.pdf", true, "/s/a\\x0Ab.pdf"},
        NameCase{"TabEscaped", "/s/a\tb.pdf", true, "/s/a\\x09b.pdf"}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

CountedFile file(const QByteArray &path, FileType type, int32_t pages, uint64_t size = 100)
{
    CountedFile f;
    f.path = path;
    f.type = type;
    f.pages = pages;
    f.size = size;
    f.factsKnown = true;
    return f;
}

TEST(RecordWriter, CsvQuotesOnlyWhatNeedsIt)
{
    cli::RecordWriter w(cli::Format::Csv);
    EXPECT_EQ(w.header(), "path,type,size,pages,reason\n");
    EXPECT_EQ(w.record(file("/s/plain.pdf", FileType::Pdf, 3)), "/s/plain.pdf,PDF,100,3,\n");
    EXPECT_EQ(w.record(file("/s/a,\"b\".pdf", FileType::Pdf, 3)), "\"/s/a,\"\"b\"\".pdf\",PDF,100,3,\n");
    EXPECT_EQ(w.record(file("/s/a,b.pdf", FileType::Pdf, 3)), "\"/s/a,b.pdf\",PDF,100,3,\n");
    EXPECT_EQ(w.record(file("/s/two\nlines.tif", FileType::Tiff, 1)), "\"/s/two\nlines.tif\",TIFF,100,1,\n");
    EXPECT_EQ(w.record(file("/s/x.pdf", FileType::Pdf, search::kNeedsPassword)), "/s/x.pdf,PDF,100,,Needs a password\n");
    cli::Totals t;
    t.tiffPages = 7;
    t.pdfPages = 11;
    EXPECT_EQ(w.footer(t), "") << "the totals are no data row";
    EXPECT_EQ(w.totalsForErr(t), "Total Pages  TIFF : 7  PDF : 11\n0 file(s) found, 0 not counted\n");
}

TEST(RecordWriter, UnknownFactsAndOtherFilesLeaveCellsEmpty)
{
    cli::RecordWriter w(cli::Format::Tsv);
    CountedFile noFacts = file("/s/gone.tif", FileType::Tiff, search::kCannotOpen);
    noFacts.factsKnown = false;
    EXPECT_EQ(w.record(noFacts), "/s/gone.tif\tTIFF\t\t\tCannot open the file\n");
    EXPECT_EQ(w.record(file("/s/notes.txt", FileType::Other, 0, 5)), "/s/notes.txt\tother\t5\t\t\n");
    EXPECT_EQ(w.record(file("/s/zero.tif", FileType::Tiff, 0)), "/s/zero.tif\tTIFF\t100\t\tThe file could not be read as a TIFF\n");
}

// Two names that an escaping could merge must still print differently, in every format.
struct NamePair {
    const char *name;
    QByteArray a, b;
};

void PrintTo(const NamePair &c, std::ostream *os) { *os << c.name; }

std::string formatName(cli::Format f)
{
    static const char *const names[] = {"text", "csv", "tsv", "json", "jsonl"};
    return names[int(f)];
}

class DistinctNames : public ::testing::TestWithParam<std::tuple<NamePair, cli::Format>> {};

TEST_P(DistinctNames, PrintDifferently)
{
    const auto &[pair, format] = GetParam();
    cli::RecordWriter w(format);
    EXPECT_NE(w.record(file(pair.a, FileType::Pdf, 1)), w.record(file(pair.b, FileType::Pdf, 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, DistinctNames,
    ::testing::Combine(
        ::testing::Values(NamePair{"ByteAndItsEscape", "/s/dup\xFF.pdf", "/s/dup\\xFF.pdf"},
                          NamePair{"TabAndItsEscape", "/s/tab\tx.pdf", "/s/tab\\x09x.pdf"},
                          NamePair{"NewlineAndItsEscape", "/s/nl\nx.pdf", "/s/nl\\x0Ax.pdf"},
                          NamePair{"BackslashAndDouble", "/s/a\\b.pdf", "/s/a\\\\b.pdf"},
                          NamePair{"CommaAndNot", "/s/a,b.pdf", "/s/ab.pdf"}),
        ::testing::Values(cli::Format::Text, cli::Format::Csv, cli::Format::Tsv, cli::Format::Json, cli::Format::Jsonl)),
    [](const ::testing::TestParamInfo<std::tuple<NamePair, cli::Format>> &info) {
        return std::string(std::get<0>(info.param).name) + "_" + formatName(std::get<1>(info.param));
    });

// Delimited formats never split a name over two fields, whatever separator it holds.
TEST(RecordWriter, CommaOnlyNameStaysOneField)
{
    cli::RecordWriter csv(cli::Format::Csv);
    EXPECT_EQ(csv.record(file("/s/a,b.pdf", FileType::Pdf, 2)), "\"/s/a,b.pdf\",PDF,100,2,\n");
    cli::RecordWriter tsv(cli::Format::Tsv);
    EXPECT_EQ(tsv.record(file("/s/a,b.pdf", FileType::Pdf, 2)), "/s/a,b.pdf\tPDF\t100\t2\t\n");
}

TEST(RecordWriter, NullTerminatedTextKeepsTheExactPath)
{
    cli::RecordWriter w(cli::Format::Text, cli::Report::Files, true);
    const QByteArray path("/s/new\nline\\\xFF.pdf");
    EXPECT_EQ(w.record(file(path, FileType::Pdf, 2, 7)), "PDF               7        2  " + path + '\0');
    cli::Totals t;
    t.pdfPages = 2;
    EXPECT_EQ(w.footer(t), "") << "the totals go to standard error";
    EXPECT_TRUE(w.totalsForErr(t).startsWith("Total Pages  TIFF : 0  PDF : 2\n"));
}

TEST(RecordWriter, JsonLinesOneObjectPerLine)
{
    cli::RecordWriter w(cli::Format::Jsonl);
    EXPECT_EQ(w.header(), "");
    const QByteArray out = w.record(file("/s/a\nb.pdf", FileType::Pdf, 4)) + w.record(file("/s/c.tif", FileType::Tiff, 0));
    const QList<QByteArray> lines = out.split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].isEmpty());
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(first.value("path").toString(), "/s/a\nb.pdf");
    EXPECT_EQ(first.value("pages").toInt(), 4);
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_TRUE(second.value("pages").isNull()) << "a TIFF libtiff cannot read is not counted";
    EXPECT_EQ(second.value("reason").toString(), "The file could not be read as a TIFF");
    cli::Totals t;
    EXPECT_EQ(w.footer(t), "");
    EXPECT_FALSE(w.totalsForErr(t).isEmpty());
}

TEST(RecordWriter, SummaryAndTotalsOnly)
{
    cli::Totals sub;
    sub.files = 3;
    sub.tiffPages = 4;
    sub.pdfPages = 5;
    sub.failed = 1;
    cli::RecordWriter csv(cli::Format::Csv, cli::Report::Summary);
    EXPECT_EQ(csv.header() + csv.record(file("/s/x.pdf", FileType::Pdf, 1)) + csv.folder("/s/a,b", sub),
              "folder,files,tiffPages,pdfPages,failed\n\"/s/a,b\",3,4,5,1\n");
    cli::RecordWriter json(cli::Format::Json, cli::Report::Summary);
    QByteArray doc = json.header();
    doc += json.folder("/s", sub);
    doc += json.folder("/s/t", sub);
    doc += json.footer(sub);
    const QJsonObject o = QJsonDocument::fromJson(doc).object();
    ASSERT_EQ(o.value("folders").toArray().size(), 2) << doc.toStdString();
    EXPECT_EQ(o.value("folders").toArray()[1].toObject().value("folder").toString(), "/s/t");
    EXPECT_EQ(o.value("totals").toObject().value("pdfPages").toInt(), 5);

    cli::RecordWriter tsv(cli::Format::Tsv, cli::Report::TotalsOnly);
    EXPECT_EQ(tsv.header() + tsv.record(file("/s/x.pdf", FileType::Pdf, 1)) + tsv.footer(sub),
              "tiffPages\tpdfPages\tfiles\tfailed\tcomplete\n4\t5\t3\t1\tyes\n");
    EXPECT_EQ(tsv.totalsForErr(sub), "") << "the totals are the data";
}

TEST(RecordWriter, TextTotalsReadAsTheWindow)
{
    cli::RecordWriter w(cli::Format::Text);
    const QByteArray line = w.record(file("/s/x.pdf", FileType::Pdf, search::kDamaged, 4096));
    EXPECT_EQ(line, "PDF            4096           /s/x.pdf  (Damaged beyond repair)\n");
    cli::Totals t;
    t.tiffPages = 2;
    t.pdfPages = 5;
    t.files = 3;
    t.failed = 1;
    EXPECT_EQ(w.footer(t), "Total Pages  TIFF : 2  PDF : 5\n3 file(s) found, 1 not counted\n");
    t.complete = false;
    EXPECT_EQ(w.footer(t), "Total Pages  TIFF : 2  PDF : 5\n3 file(s) found, 1 not counted, stopped before the end\n");
}

TEST(RecordWriter, JsonIsValidWithAndWithoutRecords)
{
    for (const int records : {0, 1, 3}) {
        cli::RecordWriter w(cli::Format::Json);
        QByteArray out = w.header();
        cli::Totals t;
        for (int i = 0; i < records; ++i) {
            const CountedFile f = file("/s/\"q\"\\\xFF\n" + QByteArray::number(i) + ".pdf", FileType::Pdf,
                                       i == 1 ? search::kGaveUp : i + 1);
            t.add(f);
            out += w.record(f);
        }
        out += w.footer(t);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << out.toStdString();
        const QJsonArray files = doc.object().value("files").toArray();
        ASSERT_EQ(files.size(), records);
        if (records > 1) {
            EXPECT_EQ(files[0].toObject().value("path").toString(), QString("/s/\"q\"\\\\\\xFF\n0.pdf"));
            EXPECT_EQ(files[0].toObject().value("pages").toInt(), 1);
            EXPECT_TRUE(files[1].toObject().value("pages").isNull());
            EXPECT_EQ(files[1].toObject().value("reason").toString(), "Gave up after 10 s");
        }
        const QJsonObject totals = doc.object().value("totals").toObject();
        EXPECT_EQ(totals.value("files").toInt(), records);
        EXPECT_EQ(totals.value("failed").toInt(), records > 1 ? 1 : 0);
        EXPECT_TRUE(totals.value("complete").toBool());
    }
}

}  // namespace
