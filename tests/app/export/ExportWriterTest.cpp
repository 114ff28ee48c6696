// The writer and the two export commands, with the destination answered by the test.

#include "ExportGrid.h"
#include "ExportTestSupport.h"
#include "MessageBoxes.h"

#include "FailingWrites.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

using exporttest::fillResultGrid;
using exporttest::readAll;

namespace {

const QList<QStringList> kThreeFiles = {
    {"a.tif", "/scans", "1,025 KB", "12/01/2026 09:15 AM", "3", "/scans/a.tif", "1,025"},
    {"b.pdf", "/scans", "7 KB", "12/02/2026 10:00 PM", "Error", "/scans/b.pdf", "7"},
    {"c.pdf", "/scans/x", "0 KB", "12/03/2026 01:05 PM", "12", "/scans/x/c.pdf", "0"},
};

ExportDestinationAsker answer(const QString &fileName, const QString &separator = {})
{
    return [=](QWidget *) {
        ExportChoice c;
        c.cancelled = false;
        c.fileName = fileName;
        c.columnSeparator = separator;
        return c;
    };
}

class ExportWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        fillResultGrid(grid, kThreeFiles);
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    FlexGrid grid;
    platform::RecordingMessageBoxes boxes;
};

TEST_F(ExportWriter, TabSeparatedVisibleColumnsInOrderWithCrLf)
{
    grid.setColHidden(1, true);  // Location
    grid.setColHidden(2, true);  // Size
    ExportGrid(grid, nullptr, answer(path("out.csv")));
    EXPECT_EQ(readAll(path("out.csv")),
              "File Name\tModified Date\tPages\r\n"
              "a.tif\t12/01/2026 09:15 AM\t3\r\n"
              "b.pdf\t12/02/2026 10:00 PM\tError\r\n"
              "c.pdf\t12/03/2026 01:05 PM\t12\r\n");
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "Meta Data exported successfully to " + path("out.csv"));
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Information);
}

TEST_F(ExportWriter, MovedColumnIsWrittenWhereItIsShown)
{
    grid.setColPosition(4, 0);  // Pages first: Pages, File Name, Location, Size, Modified Date
    grid.setColHidden(2, true);
    grid.setColHidden(3, true);
    grid.setColHidden(4, true);
    ASSERT_TRUE(WriteGridText(grid, path("moved.txt"), QChar(u'\t'), nullptr));
    EXPECT_TRUE(readAll(path("moved.txt")).startsWith("Pages\tFile Name\r\n3\ta.tif\r\n"));
}

TEST_F(ExportWriter, UserSeparatorKeepsDigitGroupCommasInsideQuotes)
{
    ExportGrid(grid, nullptr, answer(path("out.txt"), ","));
    const QList<QByteArray> lines = readAll(path("out.txt")).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "File Name,Location,Size,Modified Date,Pages\r");
    EXPECT_EQ(lines[1], "a.tif,/scans,\"1,025 KB\",12/01/2026 09:15 AM,3\r");
}

TEST_F(ExportWriter, RowsHiddenByDeleteAreLeftOut)
{
    grid.setRowHiddenFlag(2, true);
    ASSERT_TRUE(WriteGridText(grid, path("out.xls"), QChar(u'\t'), nullptr));
    const QByteArray text = readAll(path("out.xls"));
    EXPECT_TRUE(text.contains("a.tif"));
    EXPECT_FALSE(text.contains("b.pdf"));
    EXPECT_TRUE(text.contains("c.pdf"));
    EXPECT_EQ(text.count("\r\n"), 3);
}

TEST_F(ExportWriter, NonAsciiNamesAreWrittenAsUtf8)
{
    grid.setTextMatrix(1, 0, QString::fromUtf8("Überweisung – März.pdf"));
    ASSERT_TRUE(WriteGridText(grid, path("u.csv"), QChar(u'\t'), nullptr));
    EXPECT_TRUE(readAll(path("u.csv")).contains("\r\n\xC3\x9C" "berweisung \xE2\x80\x93 M\xC3\xA4rz.pdf\t"));
}

// A write that fails part-way (the file-size limit, or a full disk where a small file system can
// be mounted) must neither report success nor touch the file that was there.
TEST_F(ExportWriter, FailedWriteIsReportedAndTheOldFileStays)
{
    for (int i = 0; i < 400; ++i)
        grid.appendRow({QString("file%1.tif").arg(i), "/a/long/enough/location", "1 KB", "", "1", "", ""});
    failing::TinyFileSystem disk;
    const bool haveDisk = disk.available();
    const QString targets[] = {path("old.csv"), haveDisk ? QFile::decodeName(disk.dir().c_str()) + "/old.csv" : QString()};
    for (const QString &target : targets) {
        if (target.isEmpty())
            continue;  // no small file system here: the size-limit variant still runs
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("previous export\r\n");
        }
        boxes.shown.clear();
        {
            std::unique_ptr<failing::FileSizeLimit> limit;
            if (target == targets[0])
                limit = std::make_unique<failing::FileSizeLimit>(4096);
            else
                disk.fill();
            ExportGrid(grid, nullptr, answer(target));
        }
        EXPECT_EQ(readAll(target), "previous export\r\n") << target.toStdString();
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_TRUE(boxes.shown[0].text.startsWith("Unable to export data.\r\n\r\n")) << boxes.shown[0].text.toStdString();
        EXPECT_TRUE(boxes.shown[0].text.contains(target)) << boxes.shown[0].text.toStdString();
        EXPECT_FALSE(boxes.shown[0].text.contains("successfully"));
    }
}

// A spreadsheet opening the export must show these names, not run them.
TEST_F(ExportWriter, FormulaNamesAreNeutralisedAndOrdinaryDashNamesKept)
{
    grid.setTextMatrix(1, 0, "=HYPERLINK(\"http:evil\";\"click\").pdf");
    grid.setTextMatrix(2, 0, "@SUM(1).pdf");
    grid.setTextMatrix(3, 0, "-2+3.pdf");
    grid.appendRow({"+SUM(1;1).pdf", "/scans", "1 KB", "", "1", "", ""});
    grid.appendRow({"-draft.pdf", "/scans", "1 KB", "", "1", "", ""});
    ASSERT_TRUE(WriteGridText(grid, path("f.csv"), QChar(u','), nullptr));
    const QList<QByteArray> lines = readAll(path("f.csv")).split('\n');
    ASSERT_EQ(lines.size(), 7);
    EXPECT_TRUE(lines[1].startsWith("\"'=HYPERLINK(\"\"http:evil\"\";\"\"click\"\").pdf\",")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("'@SUM(1).pdf,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("'-2+3.pdf,")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("'+SUM(1;1).pdf,")) << lines[4].toStdString();
    EXPECT_TRUE(lines[5].startsWith("-draft.pdf,")) << lines[5].toStdString();
}

// A name holding the separator and nothing else that needs quoting still stays one cell.
TEST_F(ExportWriter, CommaOnlyNameStaysOneCellUnderEverySeparator)
{
    grid.setTextMatrix(1, 0, "a,b.pdf");
    grid.setTextMatrix(2, 0, "c\td.pdf");
    ASSERT_TRUE(WriteGridText(grid, path("c.csv"), QChar(u','), nullptr));
    QList<QByteArray> lines = readAll(path("c.csv")).split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[1], "\"a,b.pdf\",/scans,\"1,025 KB\",12/01/2026 09:15 AM,3\r");
    EXPECT_EQ(lines[2], "c\td.pdf,/scans,7 KB,12/02/2026 10:00 PM,Error\r");
    ASSERT_TRUE(WriteGridText(grid, path("c.txt"), QChar(u'\t'), nullptr));
    lines = readAll(path("c.txt")).split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[1], "a,b.pdf\t/scans\t1,025 KB\t12/01/2026 09:15 AM\t3\r");
    EXPECT_EQ(lines[2], "\"c\td.pdf\"\t/scans\t7 KB\t12/02/2026 10:00 PM\tError\r");
}

TEST_F(ExportWriter, SymbolicLinkAtTheTargetIsRefused)
{
    {
        QFile victim(path("victim.txt"));
        ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
        victim.write("not yours");
    }
    ASSERT_TRUE(QFile::link(path("victim.txt"), path("Export.csv")));
    ExportGrid(grid, nullptr, answer(path("Export.csv")));
    EXPECT_EQ(readAll(path("victim.txt")), "not yours");
    EXPECT_TRUE(QFileInfo(path("Export.csv")).isSymLink());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Unable to export data.")) << boxes.shown[0].text.toStdString();
    EXPECT_TRUE(boxes.shown[0].text.contains("symbolic link")) << boxes.shown[0].text.toStdString();
}

struct QuoteCase {
    const char *cell;
    char separator;
    const char *written;
};

void PrintTo(const QuoteCase &c, std::ostream *os) { *os << '"' << c.cell << '"'; }

class DelimitedLineQuoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(DelimitedLineQuoting, QuotesOnlyWhatWouldBreakTheLine)
{
    const QuoteCase &c = GetParam();
    EXPECT_EQ(DelimitedLine({"x", QString::fromUtf8(c.cell), "y"}, QChar::fromLatin1(c.separator)),
              QString("x%1%2%1y").arg(QChar::fromLatin1(c.separator)).arg(QString::fromUtf8(c.written)));
}

INSTANTIATE_TEST_SUITE_P(Cells, DelimitedLineQuoting,
                         ::testing::Values(QuoteCase{"plain", ',', "plain"},
                                           QuoteCase{"", ',', ""},
                                           QuoteCase{"1,234 KB", ',', "\"1,234 KB\""},
                                           QuoteCase{"1,234 KB", '\t', "1,234 KB"},
                                           QuoteCase{"tab\there", '\t', "\"tab\there\""},
                                           QuoteCase{"say \"hi\"", ';', "\"say \"\"hi\"\"\""},
                                           QuoteCase{"two\nlines", ',', "\"two\nlines\""},
                                           QuoteCase{"cr\rhere", ',', "\"cr\rhere\""},
                                           QuoteCase{"a;b", ';', "\"a;b\""}));

TEST(ExportCommands, ButtonOnEmptyGridSaysNoFilesAndAsksNothing)
{
    FlexGrid grid;
    fillResultGrid(grid, {});
    platform::RecordingMessageBoxes boxes;
    bool asked = false;
    ExportButtonClicked(grid, nullptr, [&](QWidget *) {
        asked = true;
        return ExportChoice{};
    });
    EXPECT_FALSE(asked);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, "No files found to export.");
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Information);
}

TEST(ExportCommands, ButtonCountsRowsHiddenByDelete)
{
    QTemporaryDir dir;
    FlexGrid grid;
    fillResultGrid(grid, {kThreeFiles[0]});
    grid.setRowHiddenFlag(1, true);
    platform::RecordingMessageBoxes boxes;
    ExportButtonClicked(grid, nullptr, answer(dir.filePath("h.csv")));
    EXPECT_EQ(readAll(dir.filePath("h.csv")), "File Name\tLocation\tSize\tModified Date\tPages\r\n");
}

TEST(ExportCommands, MenuOnEmptyGridWritesTheHeaderLine)
{
    QTemporaryDir dir;
    FlexGrid grid;
    fillResultGrid(grid, {});
    platform::RecordingMessageBoxes boxes;
    ExportGrid(grid, nullptr, answer(dir.filePath("empty.txt"), ","));
    EXPECT_EQ(readAll(dir.filePath("empty.txt")), "File Name,Location,Size,Modified Date,Pages\r\n");
}

TEST(ExportCommands, CancelWritesNothingAndSaysNothing)
{
    QTemporaryDir dir;
    FlexGrid grid;
    fillResultGrid(grid, kThreeFiles);
    platform::RecordingMessageBoxes boxes;
    ExportGrid(grid, nullptr, [](QWidget *) { return ExportChoice{}; });
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

class UnwritableDestination : public ::testing::TestWithParam<const char *> {};

TEST_P(UnwritableDestination, ReportsTheReasonAndLeavesNothingBehind)
{
    QTemporaryDir dir;
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    FlexGrid grid;
    fillResultGrid(grid, kThreeFiles);
    platform::RecordingMessageBoxes boxes;
    ExportGrid(grid, nullptr, answer(dir.filePath(GetParam())));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Unable to export data.\r\n\r\n"));
    EXPECT_GT(boxes.shown[0].text.size(), QString("Unable to export data.\r\n\r\n").size());
    EXPECT_EQ(boxes.shown[0].icon, platform::MsgIcon::Information);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"plain"});
}

INSTANTIATE_TEST_SUITE_P(Paths, UnwritableDestination,
                         ::testing::Values("plain/report.txt", "missing/report.txt"));

TEST(ExportCommands, ExistingFileIsReplacedWhole)
{
    QTemporaryDir dir;
    QFile old(dir.filePath("r.csv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'z'));
    old.close();
    FlexGrid grid;
    fillResultGrid(grid, {});
    platform::RecordingMessageBoxes boxes;
    ExportGrid(grid, nullptr, answer(dir.filePath("r.csv")));
    EXPECT_EQ(readAll(dir.filePath("r.csv")), "File Name\tLocation\tSize\tModified Date\tPages\r\n");
}

}  // namespace
