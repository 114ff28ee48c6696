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
        NameCase{"BackslashInCleanNameKept", "/s/a\\b.pdf", true, "/s/a\\b.pdf"},
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
    EXPECT_EQ(w.record(file("/s/two\nlines.tif", FileType::Tiff, 1)), "\"/s/two\nlines.tif\",TIFF,100,1,\n");
    EXPECT_EQ(w.record(file("/s/x.pdf", FileType::Pdf, search::kNeedsPassword)), "/s/x.pdf,PDF,100,,Needs a password\n");
    cli::Totals t;
    t.tiffPages = 7;
    t.pdfPages = 11;
    EXPECT_EQ(w.footer(t), ",TIFF total,,7,\n,PDF total,,11,\n");
}

TEST(RecordWriter, UnknownFactsAndOtherFilesLeaveCellsEmpty)
{
    cli::RecordWriter w(cli::Format::Tsv);
    CountedFile noFacts = file("/s/gone.tif", FileType::Tiff, search::kCannotOpen);
    noFacts.factsKnown = false;
    EXPECT_EQ(w.record(noFacts), "/s/gone.tif\tTIFF\t\t\tCannot open the file\n");
    EXPECT_EQ(w.record(file("/s/notes.txt", FileType::Other, 0, 5)), "/s/notes.txt\tother\t5\t\t\n");
    EXPECT_EQ(w.record(file("/s/zero.tif", FileType::Tiff, 0)), "/s/zero.tif\tTIFF\t100\t0\tThe file could not be read as a TIFF\n");
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
