// quirewell-count as a user runs it: the built executable on folders made at test time, every
// output format read back, the totals and the exit status.
#include "CountCliTest.h"

#include "TestDocuments.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>

namespace {

using namespace clitest;

struct Expected {
    QByteArray rel;      // below the case folder, as printed in CSV and JSON
    QByteArray relText;  // as printed in text and TSV (control characters escaped); empty: same
    const char *type;
    QByteArray pages;    // empty: no count
    const char *reason;
};

struct CliCase {
    const char *name;
    std::function<void(const QByteArray &dir)> make;
    QStringList args;
    std::vector<Expected> records;
    int64_t tiffTotal;
    int64_t pdfTotal;
    int status;
};

const std::vector<CliCase> &cases()
{
    static const std::vector<CliCase> list = {
        {"Good",
         [](const QByteArray &d) {
             tiff(d + "/a.tif", 2);
             pdf(d + "/b.pdf", 3);
             tiff(d + "/c.TIFF", 1);
             bytes(d + "/notes.txt", "not listed");
             pdf(d + "/.hidden.pdf", 5);
         },
         {},
         {{"a.tif", "", "TIFF", "2", ""}, {"b.pdf", "", "PDF", "3", ""}, {"c.TIFF", "", "TIFF", "1", ""}},
         3, 3, 0},
        {"HiddenWhenAsked",
         [](const QByteArray &d) {
             pdf(d + "/.hidden.pdf", 5);
             pdf(d + "/shown.pdf", 1);
         },
         {"--hidden"},
         {{".hidden.pdf", "", "PDF", "5", ""}, {"shown.pdf", "", "PDF", "1", ""}},
         0, 6, 0},
        {"SubfoldersWhenAsked",
         [](const QByteArray &d) {
             pdf(d + "/top.pdf", 1);
             tiff(d + "/sub/mid.tif", 4);
             pdf(d + "/sub/deeper/low.pdf", 2);
         },
         {"-r"},
         {{"top.pdf", "", "PDF", "1", ""}, {"sub/mid.tif", "", "TIFF", "4", ""}, {"sub/deeper/low.pdf", "", "PDF", "2", ""}},
         4, 3, 0},
        {"SubfoldersOnlyWhenAsked",
         [](const QByteArray &d) {
             pdf(d + "/top.pdf", 1);
             tiff(d + "/sub/mid.tif", 4);
         },
         {},
         {{"top.pdf", "", "PDF", "1", ""}},
         0, 1, 0},
        {"Damaged",
         [](const QByteArray &d) {
             bytes(d + "/broken.pdf", "%PDF-1.4\nthis is no document at all\n");
             pdf(d + "/fine.pdf", 2);
         },
         {},
         {{"broken.pdf", "", "PDF", "", "Damaged beyond repair"}, {"fine.pdf", "", "PDF", "2", ""}},
         0, 2, 1},
        {"Encrypted",
         [](const QByteArray &d) { encryptedPdf(d + "/locked.pdf"); },
         {},
         {{"locked.pdf", "", "PDF", "", "Needs a password"}},
         0, 0, 1},
        {"Misnamed",
         [](const QByteArray &d) {
             pdf(d + "/really-a-pdf.tif", 2);
             tiff(d + "/really-a-tiff.pdf", 2);
         },
         {},
         {{"really-a-pdf.tif", "", "TIFF", "", "Not a TIFF file"}, {"really-a-tiff.pdf", "", "PDF", "", "Not a PDF file"}},
         0, 0, 1},
        {"NamesNotUtf8",
         [](const QByteArray &d) {
             tiff(d + "/caf\xE9.tif", 1);
             pdf(d + "/\xFF\\x.pdf", 2);
         },
         {},
         {{"caf\\xE9.tif", "", "TIFF", "1", ""}, {"\\xFF\\\\x.pdf", "", "PDF", "2", ""}},
         1, 2, 0},
        {"NamesWithSeparators",
         [](const QByteArray &d) {
             pdf(d + "/a,\"b\".pdf", 1);
             pdf(d + "/c,d.pdf", 2);
             tiff(d + "/two\nlines.tif", 1);
             tiff(d + "/tab\there.tif", 2);
         },
         {},
         {{"a,\"b\".pdf", "", "PDF", "1", ""},
          {"c,d.pdf", "", "PDF", "2", ""},
          {"two\nlines.tif", "two\\x0Alines.tif", "TIFF", "1", ""},
          {"tab\there.tif", "tab\\x09here.tif", "TIFF", "2", ""}},
         3, 3, 0},
        {"UnreadableTiff",
         [](const QByteArray &d) {
             bytes(d + "/torn.tif", QByteArray("II*\0", 4) + "not a directory chain");
             tiff(d + "/whole.tif", 2);
         },
         {},
         {{"torn.tif", "", "TIFF", "", "The file could not be read as a TIFF"}, {"whole.tif", "", "TIFF", "2", ""}},
         2, 0, 1},
        {"Empty", [](const QByteArray &) {}, {}, {}, 0, 0, 0},
        {"EveryFileWithStarDotStar",
         [](const QByteArray &d) {
             bytes(d + "/notes.txt", "12345");
             pdf(d + "/one.pdf", 1);
         },
         {"--filter", "*.*"},
         {{"notes.txt", "", "other", "", ""}, {"one.pdf", "", "PDF", "1", ""}},
         0, 1, 0},
    };
    return list;
}

class CountCliTest : public ::testing::TestWithParam<std::tuple<size_t, const char *>> {};

TEST_P(CountCliTest, RecordsTotalsAndStatus)
{
    const CliCase &c = cases()[std::get<0>(GetParam())];
    const QString format = QString::fromLatin1(std::get<1>(GetParam()));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray root = QFile::encodeName(dir.path());
    const clitest::RemoveAll cleanup{root};
    c.make(root);

    const Output out = runCount(QStringList(c.args) << "--format" << format << dir.path());
    ASSERT_TRUE(out.ran) << out.err.toStdString();
    EXPECT_EQ(out.status, c.status) << out.err.toStdString();
    const Parsed parsed = parse(format, out.out, out.err);
    ASSERT_TRUE(parsed.ok) << parsed.why << "\n" << out.out.toStdString();

    std::vector<Record> expected;
    const bool escaped = format == "text" || format == "tsv";
    for (const Expected &e : c.records) {
        Record r;
        r.path = root + '/' + (escaped && !e.relText.isEmpty() ? e.relText : e.rel);
        r.type = e.type;
        r.pages = e.pages;
        r.reason = e.reason;
        expected.push_back(r);
    }
    std::vector<Record> got = parsed.records;
    for (Record &r : got)
        r.size.clear();  // checked below
    const auto byPath = [](const Record &a, const Record &b) { return a.path < b.path; };
    std::sort(expected.begin(), expected.end(), byPath);
    std::sort(got.begin(), got.end(), byPath);
    EXPECT_EQ(got, expected);
    for (const Record &r : parsed.records) {
        EXPECT_FALSE(r.size.isEmpty()) << r.path.toStdString();
    }
    EXPECT_EQ(parsed.tiffTotal, c.tiffTotal);
    EXPECT_EQ(parsed.pdfTotal, c.pdfTotal);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CountCliTest,
    ::testing::Combine(::testing::Range(size_t(0), cases().size()), ::testing::Values("text", "csv", "tsv", "json", "jsonl")),
    [](const ::testing::TestParamInfo<std::tuple<size_t, const char *>> &info) {
        return std::string(cases()[std::get<0>(info.param)].name) + "_" + std::get<1>(info.param);
    });

// Sizes are the files' own.
TEST(CountCli, SizeIsTheFilesSize)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    bytes(root + "/x.pdf", QByteArray(12345, 'x'));
    const Output out = runCount({"--format", "csv", dir.path()});
    const Parsed parsed = parse("csv", out.out, out.err);
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.records[0].size, "12345");
}

// Several files at once give exactly what one at a time gives, in every format.
TEST(CountCli, JobsDoNotChangeTheOutput)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    for (int f = 0; f < 4; ++f) {
        const QByteArray folder = root + "/f" + QByteArray::number(f) + (f % 2 ? "/deep" : "");
        for (int i = 0; i < 12; ++i) {
            const QByteArray base = folder + "/d" + QByteArray::number(i);
            switch (i % 4) {
            case 0: tiff(base + ".tif", 1 + i); break;
            case 1: pdf(base + ".pdf", 1 + i); break;
            case 2: bytes(base + ".pdf", "%PDF-1.4\nnothing\n"); break;
            default: pdf(base + ".tif", 2); break;
            }
        }
    }
    for (const char *format : {"text", "csv", "tsv", "json"}) {
        const Output one = runCount({"-r", "--jobs", "1", "--format", format, dir.path()});
        const Output four = runCount({"-r", "--jobs", "4", "--format", format, dir.path()});
        ASSERT_TRUE(one.ran && four.ran);
        EXPECT_EQ(one.status, 1);
        EXPECT_EQ(four.status, 1);
        EXPECT_EQ(one.out.toStdString(), four.out.toStdString()) << format;
        EXPECT_GT(one.out.count('\n'), 40) << format;
    }
}

// The page-count cache changes nothing of the output; --no-cache neither reads nor makes it; a
// damaged cache costs one line on standard error.
TEST(CountCli, CacheKeepsTheOutputAndNoCacheLeavesItAlone)
{
    QTemporaryDir dir, cacheHome;
    const QByteArray root = QFile::encodeName(dir.path());
    tiff(root + "/a.tif", 3);
    pdf(root + "/b.pdf", 5);
    bytes(root + "/c.pdf", "%PDF-1.4\nnothing\n");
    // Counts are kept only for files that settled 2 s before their count.
    QDeadlineTimer settled(2200);
    while (!settled.hasExpired())
        QThread::msleep(50);
    const QByteArray oldHome = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
    const QString cacheFile = cacheHome.filePath("quirewell/page-counts.sqlite");
    const QStringList args = {"--format", "json", dir.path()};

    const Output plain = runCount(QStringList{"--no-cache"} + args);
    EXPECT_FALSE(QFile::exists(cacheFile));
    const Output first = runCount(args);
    EXPECT_TRUE(QFile::exists(cacheFile));
    const Output second = runCount(args);
    // The counters load in the order their files come: each is the same counter to the cache
    // whichever came first, so later runs reuse what earlier ones counted.
    runCount({"--format", "json", "--jobs", "1", dir.filePath("b.pdf"), dir.filePath("a.tif")});
    runCount({"--format", "json", "--jobs", "1", dir.filePath("a.tif"), dir.filePath("b.pdf")});
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(cacheFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt *st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT identity FROM counters", -1, &st, nullptr), SQLITE_OK);
        QList<QByteArray> counters;
        while (sqlite3_step(st) == SQLITE_ROW)
            counters << QByteArray(static_cast<const char *>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0));
        sqlite3_finalize(st);
        sqlite3_close(db);
        EXPECT_EQ(counters.size(), 2) << counters.join("\n---\n").toStdString();
        for (const QByteArray &c : counters)
            EXPECT_FALSE(c.startsWith("/proc/")) << c.toStdString();
    }
    {
        QFile damage(cacheFile);
        EXPECT_TRUE(damage.open(QIODevice::WriteOnly));
        damage.write(QByteArray(4096, 'x'));
    }
    QFile::remove(cacheFile + "-wal");
    QFile::remove(cacheFile + "-shm");
    const Output damaged = runCount(args);
    qputenv("XDG_CACHE_HOME", oldHome);

    for (const Output *o : {&plain, &first, &second, &damaged}) {
        EXPECT_EQ(o->status, 1);  // c.pdf cannot be counted
        EXPECT_EQ(o->out.toStdString(), plain.out.toStdString());
    }
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(damaged.err.count('\n'), 1) << damaged.err.toStdString();
    EXPECT_TRUE(damaged.err.contains("page-count cache")) << damaged.err.toStdString();
    EXPECT_EQ(parse("json", plain.out, plain.err).pdfTotal, 5);
}

// Several folders: records of each in turn, one set of totals.
TEST(CountCli, SeveralFoldersOneTotal)
{
    QTemporaryDir a, b;
    pdf(QFile::encodeName(a.path()) + "/one.pdf", 4);
    tiff(QFile::encodeName(b.path()) + "/two.tif", 3);
    const Output out = runCount({"--format", "tsv", a.path(), b.path() + "/"});
    ASSERT_EQ(out.status, 0) << out.err.toStdString();
    const Parsed parsed = parse("tsv", out.out, out.err);
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.records[0].path, QFile::encodeName(a.path()) + "/one.pdf");
    EXPECT_EQ(parsed.records[1].path, QFile::encodeName(b.path()) + "/two.tif");
    EXPECT_EQ(parsed.tiffTotal, 3);
    EXPECT_EQ(parsed.pdfTotal, 4);
}

struct UsageCase {
    const char *name;
    QStringList args;  // "@" is a scratch folder, "@f" a file in it
    int status;
    const char *stdoutHas;
    const char *stderrHas;
};

void PrintTo(const UsageCase &c, std::ostream *os) { *os << c.name; }

class CountCliUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CountCliUsage, Status)
{
    const UsageCase &c = GetParam();
    QTemporaryDir dir;
    pdf(QFile::encodeName(dir.path()) + "/f.pdf", 1);
    QStringList args;
    for (QString a : c.args)
        args << a.replace("@f", dir.filePath("f.pdf")).replace("@", dir.path());
    const Output out = runCount(args);
    ASSERT_TRUE(out.ran);
    EXPECT_EQ(out.status, c.status) << out.err.toStdString();
    EXPECT_TRUE(out.out.contains(c.stdoutHas)) << out.out.toStdString();
    EXPECT_TRUE(out.err.contains(c.stderrHas)) << out.err.toStdString();
    if (c.status == 2) {
        EXPECT_TRUE(out.out.isEmpty()) << "nothing counted on bad usage";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CountCliUsage,
    ::testing::Values(UsageCase{"Help", {"--help"}, 0, "usage: quirewell-count", ""},
                      UsageCase{"Version", {"--version"}, 0, "Quirewell", ""},
                      UsageCase{"NoFolder", {}, 2, "", "no folder or file given"},
                      UsageCase{"UnknownOption", {"--fast", "@"}, 2, "", "unknown option --fast"},
                      UsageCase{"MissingFolder", {"@", "@/nowhere"}, 2, "", "nowhere: no such file or folder"},
                      UsageCase{"FileOperandIsCounted", {"@f"}, 0, "Total Pages  TIFF : 0  PDF : 1", ""},
                      UsageCase{"UnknownLongOptionWithValue", {"--form=csv", "@"}, 2, "", "unknown option --form\n"},
                      UsageCase{"ClusteredOptions", {"-rj2", "@"}, 0, "Total Pages  TIFF : 0  PDF : 1", ""},
                      UsageCase{"DeviceOperand", {"/dev/null"}, 2, "", "/dev/null: not a file or folder"},
                      UsageCase{"BadJobs", {"--jobs", "0", "@"}, 2, "", "--jobs"},
                      UsageCase{"QuietWhenNotATerminal", {"@"}, 0, "Total Pages  TIFF : 0  PDF : 1", ""}),
    [](const ::testing::TestParamInfo<UsageCase> &info) { return std::string(info.param.name); });

// A list of files fed in (find -print0) gives exactly the walk's records, names with any bytes
// included, in every format.
TEST(CountCli, FileListEqualsTheWalk)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    const clitest::RemoveAll cleanup{root};
    tiff(root + "/a.tif", 2);
    pdf(root + "/new\nline.pdf", 3);
    pdf(root + "/caf\xE9 \\x.pdf", 1);
    bytes(root + "/broken.pdf", "%PDF-1.4\nnothing\n");
    pdf(root + "/sub/c,d.pdf", 4);
    const Output find = runShell(QStringLiteral("cd '%1' && find . -type f -print0 | sed -z 's|^\\./||'").arg(dir.path()));
    ASSERT_EQ(find.status, 0) << find.err.toStdString();
    // Absolute names, so the records print the same paths as the walk.
    QByteArray list;
    for (const QByteArray &name : find.out.split('\0'))
        if (!name.isEmpty())
            list += root + '/' + name + '\0';
    ASSERT_EQ(list.count('\0'), 5) << list.toStdString();
    for (const char *format : {"text", "csv", "tsv", "json", "jsonl"}) {
        const Output walk = runCount({"-r", "--format", format, dir.path()});
        const Output fed = runCount({"--format", format, "--files0-from", "-"}, {}, list);
        ASSERT_TRUE(fed.ran);
        EXPECT_EQ(fed.status, walk.status) << fed.err.toStdString();
        Parsed a = parse(format, walk.out, walk.err);
        Parsed b = parse(format, fed.out, fed.err);
        ASSERT_TRUE(a.ok && b.ok) << a.why << b.why;
        const auto byPath = [](const Record &x, const Record &y) { return x.path < y.path; };
        std::sort(a.records.begin(), a.records.end(), byPath);
        std::sort(b.records.begin(), b.records.end(), byPath);
        EXPECT_EQ(a.records, b.records) << format;
        EXPECT_EQ(a.tiffTotal, b.tiffTotal) << format;
        EXPECT_EQ(a.pdfTotal, b.pdfTotal) << format;
    }
}

// Names that fail in the list are said on standard error and make the status 1; the rest count.
TEST(CountCli, BadNamesInTheListFailTheRun)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    pdf(root + "/good.pdf", 2);
    const QByteArray list = root + "/good.pdf" + '\0' + root + "/gone.pdf" + '\0' + "/dev/null" + '\0';
    const Output out = runCount({"--format", "tsv", "--files0-from", "-"}, {}, list);
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.err.contains("gone.pdf: no such file or folder")) << out.err.toStdString();
    EXPECT_TRUE(out.err.contains("/dev/null: not a file or folder")) << out.err.toStdString();
    const Parsed parsed = parse("tsv", out.out, out.err);
    ASSERT_TRUE(parsed.ok) << parsed.why;
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.pdfTotal, 2);
}

// A closed standard output is said as such, before anything is counted.
TEST(CountCli, ClosedStandardOutputIsNamed)
{
    QTemporaryDir dir;
    pdf(QFile::encodeName(dir.path()) + "/f.pdf", 1);
    const Output out = runShell(QStringLiteral("\"$QWC\" '%1' >&-").arg(dir.path()));
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err, "quirewell-count: cannot write the output: standard output is closed\n");
}

// Totals-only and summary agree with the records, and -0 keeps exact paths.
TEST(CountCli, SummaryTotalsOnlyAndNull)
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    const clitest::RemoveAll cleanup{root};
    tiff(root + "/a.tif", 2);
    pdf(root + "/x/b.pdf", 3);
    pdf(root + "/x/y\nz.pdf", 4);
    const Output totals = runCount({"-r", "--totals-only", "--format", "csv", dir.path()});
    EXPECT_EQ(totals.status, 0);
    EXPECT_EQ(totals.out, "tiffPages,pdfPages,files,failed,complete\n2,7,3,0,yes\n");
    EXPECT_TRUE(totals.err.isEmpty()) << totals.err.toStdString();

    const Output summary = runCount({"-r", "--summary", "--format", "tsv", dir.path()});
    EXPECT_EQ(summary.out, "folder\tfiles\ttiffPages\tpdfPages\tfailed\n" + root + "\t1\t2\t0\t0\n" + root
                               + "/x\t2\t0\t7\t0\n");
    EXPECT_TRUE(summary.err.startsWith("Total Pages  TIFF : 2  PDF : 7\n")) << summary.err.toStdString();

    const Output null = runCount({"-r0", dir.path()});
    const QList<QByteArray> records = null.out.split('\0');
    ASSERT_EQ(records.size(), 4) << null.out.toStdString();
    EXPECT_TRUE(records.back().isEmpty()) << "every record ends in NUL";
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [&](const QByteArray &r) { return r.endsWith("  " + root + "/x/y\nz.pdf"); }),
              1)
        << null.out.toStdString();
}

// One archive split over four workers with GNU parallel, then merged: the same totals as one run.
TEST(CountCli, ShardedOverFourWorkersMergesToOneRun)
{
    if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty()) {
        ADD_FAILURE() << "GNU parallel is missing (scripts/setup installs it)";
        return;
    }
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i < 9; ++i) {
            const QByteArray base = root + "/box" + QByteArray::number(f) + (f % 2 ? "/inner/" : "/") + "doc" + QByteArray::number(i);
            switch (i % 3) {
            case 0: tiff(base + ".tif", 1 + i + f); break;
            case 1: pdf(base + ".pdf", 2 + i); break;
            default: bytes(base + ".pdf", "%PDF-1.4\nnot a document\n"); break;
            }
        }
    const Output one = runCount({"-r", "--totals-only", "--format", "json", dir.path()});
    ASSERT_EQ(one.status, 1) << one.err.toStdString();
    // The recipe of the README, with small shards so that every worker gets some.
    const Output sharded = runShell(QStringLiteral(
        "set -o pipefail; find '%1' -type f -print0 "
        "| parallel -0 --pipe --recend '\\0' -N 5 -j 4 \"$QWC\" --files0-from - --format jsonl 2>/dev/null "
        "| \"$QWC\" --merge --format json").arg(dir.path()));
    EXPECT_EQ(sharded.status, 1) << "a file that failed in a shard fails the whole run\n" << sharded.err.toStdString();
    const QJsonObject a = QJsonDocument::fromJson(one.out).object().value("totals").toObject();
    const QJsonObject b = QJsonDocument::fromJson(sharded.out).object().value("totals").toObject();
    EXPECT_EQ(a.value("files").toInt(), 54);
    for (const char *key : {"tiffPages", "pdfPages", "files", "failed"})
        EXPECT_EQ(a.value(key).toInt(-1), b.value(key).toInt(-2)) << key << "\n" << sharded.out.toStdString();
}

// --merge refuses what is not a record rather than adding it up wrong.
TEST(CountCli, MergeRefusesForeignLines)
{
    const Output bad = runCount({"--merge"}, {}, "{\"path\":\"/a.pdf\",\"type\":\"PDF\",\"pages\":2,\"reason\":null}\nTotal Pages\n");
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.contains("standard input, line 2: not a file record")) << bad.err.toStdString();
    const Output good = runCount({"--merge", "--format", "csv"}, {},
                                 "{\"path\":\"/a.pdf\",\"type\":\"PDF\",\"pages\":2,\"reason\":null}\n"
                                 "{\"path\":\"/b.tif\",\"type\":\"TIFF\",\"pages\":null,\"reason\":\"Not a TIFF file\"}\n");
    EXPECT_EQ(good.status, 1);
    EXPECT_EQ(good.out, "tiffPages,pdfPages,files,failed,complete\n0,2,2,1,yes\n");
}

// A full disk is not a count: the records are lost, so the status says so.
TEST(CountCli, OutputThatCannotBeWrittenFails)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    QTemporaryDir dir;
    pdf(QFile::encodeName(dir.path()) + "/f.pdf", 1);
    QProcess p;
    p.setStandardOutputFile("/dev/full");
    p.start(testdocs::binDir() + "/quirewell-count", {dir.path()});
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("cannot write the output"));
}

TEST(CountCli, NoProgressOnAPipe)
{
    QTemporaryDir dir;
    pdf(QFile::encodeName(dir.path()) + "/f.pdf", 1);
    const Output out = runCount({dir.path()});
    EXPECT_TRUE(out.err.isEmpty()) << out.err.toStdString();
}

}  // namespace
