// The folder walk without a window: a recording host and counters that read the page count from
// the file's own text ("pages:N", "reject", "fail"), over folders built on disk.

#include "FileNames.h"
#include "FolderSearch.h"
#include "GuiTestEnvironment.h"  // rows carry pictures, which need a GUI application

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <functional>
#include <map>
#include <unistd.h>

using search::FolderSearch;

namespace {

class RecordingHost : public search::SearchHost
{
public:
    std::vector<ResultRow> rows;
    QString filter = QStringLiteral("*.pdf,*.tif,*.tiff");
    search::SearchCriteria crit;
    bool subfolders = false;
    QString caption = FolderSearch::kSearchCaption;
    QStringList messages;
    QString files;
    QString totals = QStringLiteral("Total Pages : 0");
    int turns = 0;
    std::function<void()> onTurn;
    std::function<void(const QString &)> onMessage;

    int rowCount() const override { return int(rows.size()) + 1; }
    void clearRows() override { rows.clear(); }
    void appendRow(const ResultRow &row) override { rows.push_back(row); }
    QPixmap fileIcon(const QString &) override
    {
        QPixmap icon(16, 16);
        icon.fill(Qt::darkBlue);
        return icon;
    }
    QString filterText() const override { return filter; }
    void setFilterText(const QString &text) override { filter = text; }
    search::SearchCriteria criteria() const override
    {
        search::SearchCriteria c = crit;
        c.filterText = filter;
        return c;
    }
    int showHiddenState() const override { return crit.showHiddenState; }
    bool includeSubfolders() const override { return subfolders; }
    QString searchCaption() const override { return caption; }
    void setSearchCaption(const QString &text) override { caption = text; }
    void showStatus(const QString &text, const QString &key) override
    {
        if (key == QLatin1String("Message")) {
            messages << text;
            if (onMessage)
                onMessage(text);
        } else if (key == QLatin1String("Files")) {
            files = text;
        }
    }
    void setTotalsText(const QString &text) override { totals = text; }
    void processEvents() override
    {
        ++turns;
        if (onTurn)
            onTurn();
    }

    QStringList names() const
    {
        QStringList out;
        for (const ResultRow &r : rows)
            out << r.FileName;
        return out;
    }
    const ResultRow *row(const QString &name) const
    {
        for (const ResultRow &r : rows)
            if (r.FileName == name)
                return &r;
        return nullptr;
    }
};

struct CounterLog
{
    std::vector<std::pair<search::CounterKind, QByteArray>> calls;
    int created = 0;
    int alive = 0;
    bool pdfMissing = false;
};

class TextCounter : public search::PageCounter
{
public:
    TextCounter(search::CounterKind kind, CounterLog &log) : m_kind(kind), m_log(log) { ++m_log.alive; }
    ~TextCounter() override { --m_log.alive; }
    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        m_log.calls.emplace_back(m_kind, path);
        const int fd = ::open(path.constData(), O_RDONLY);  // the bytes must reopen the file
        if (fd < 0)
            return -1;
        char buf[64] = {};
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        const QByteArray text(buf, n > 0 ? int(n) : 0);
        if (text.startsWith("fail"))
            return std::nullopt;
        if (text.startsWith("pages:"))
            return text.mid(6).trimmed().toInt();
        return -2;
    }

private:
    search::CounterKind m_kind;
    CounterLog &m_log;
};

class TextCounters : public search::PageCounterFactory
{
public:
    explicit TextCounters(CounterLog &log) : m_log(log) {}
    std::unique_ptr<search::PageCounter> create(search::CounterKind kind) override
    {
        if (kind == search::CounterKind::Pdf && m_log.pdfMissing)
            return nullptr;
        ++m_log.created;
        return std::make_unique<TextCounter>(kind, m_log);
    }

private:
    CounterLog &m_log;
};

class FolderSearchTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    RecordingHost host;
    CounterLog log;
    FolderSearch walk{host, std::make_unique<TextCounters>(log)};

    QString root() const { return dir.path() + QLatin1Char('/'); }
    void write(const QString &relative, const QByteArray &content)
    {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void mkdir(const QString &relative) { ASSERT_TRUE(QDir().mkpath(dir.filePath(relative))); }
    void search() { walk.cmdSearch_Click(root()); }
};

TEST(FolderSearchNames, GetFileExtension)
{
    const std::map<QString, QString> cases = {
        {"scan.tif", "tif"}, {"scan.pdf.tif", "tif"}, {"SCAN.TIFF", "TIFF"},
        {"noext", ""},       {".hidden", "hidden"},   {"trailing.", ""},
    };
    for (const auto &[name, ext] : cases)
        EXPECT_EQ(FolderSearch::GetFileExtension(name), ext) << name.toStdString();
}

TEST(FolderSearchNames, UndecodableBytesRoundTripAndShowAsReplacement)
{
    const QByteArray raw("/tmp/caf\xe9-\xff\xfe-\xc3\xa9.tif");  // Latin-1 é, junk, then real UTF-8 é
    EXPECT_FALSE(platform::isValidUtf8(raw));
    EXPECT_EQ(platform::pathFromText(platform::pathToText(raw)), raw);
    EXPECT_EQ(platform::pathToDisplay(raw), QString::fromUtf8("/tmp/caf\xef\xbf\xbd-\xef\xbf\xbd\xef\xbf\xbd-\xc3\xa9.tif"));
    const QByteArray valid("/tmp/\xf0\x9f\x93\x84 report.pdf");
    EXPECT_TRUE(platform::isValidUtf8(valid));
    EXPECT_EQ(platform::pathToText(valid), QString::fromUtf8(valid));
    EXPECT_EQ(platform::pathFromText(platform::pathToText(valid)), valid);
}

TEST_F(FolderSearchTest, FillsEveryCellCountsAndTotals)
{
    write("a.tif", "pages:3");
    write("b.pdf", "pages:12");
    write("notes.txt", "pages:99");
    search();

    ASSERT_EQ(host.rows.size(), 2u);
    const ResultRow *tif = host.row("a.tif");
    ASSERT_NE(tif, nullptr);
    EXPECT_EQ(tif->Location, dir.path());
    EXPECT_EQ(tif->SizeKb, "1");
    EXPECT_EQ(tif->Size, "1 KB");
    EXPECT_EQ(tif->ModifiedDate, ResultGrid::modifiedDateText(QFileInfo(dir.filePath("a.tif")).lastModified()));
    EXPECT_EQ(tif->Pages, "3");
    EXPECT_EQ(tif->FullPath, dir.filePath("a.tif"));
    EXPECT_FALSE(tif->Icon.isNull());
    EXPECT_EQ(host.row("b.pdf")->Pages, "12");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 3  PDF : 12");
    EXPECT_EQ(host.files, "2 file(s) found");
    EXPECT_EQ(host.messages.first(), "Searching " + root());
    EXPECT_EQ(host.messages.last(), "Done");
    EXPECT_EQ(host.caption, FolderSearch::kSearchCaption);
    EXPECT_EQ(log.alive, 0) << "counters are released when the folder is done";
}

TEST_F(FolderSearchTest, SizesRoundUpToWholeKilobytesWithGroups)
{
    const std::vector<std::pair<int, QString>> cases = {
        {0, "0 KB"}, {1, "1 KB"}, {1024, "1 KB"}, {1025, "2 KB"}, {1048577, "1,025 KB"}};
    host.filter = "*.*";
    for (const auto &[bytes, text] : cases)
        write(QString("size%1").arg(bytes), QByteArray(bytes, 'x'));
    search();
    for (const auto &[bytes, text] : cases) {
        const ResultRow *r = host.row(QString("size%1").arg(bytes));
        ASSERT_NE(r, nullptr) << bytes;
        EXPECT_EQ(r->Size, text) << bytes;
        EXPECT_EQ(r->Pages, "") << "no counter for a name without extension";
    }
}

TEST_F(FolderSearchTest, SizeBeyond32BitKilobytesStillShows)
{
    host.filter = "*.*";
    write("small.tif", "pages:1");
    const QByteArray huge = QFile::encodeName(dir.filePath("huge.bin"));
    const int fd = ::open(huge.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const bool sparse = ::ftruncate(fd, off_t(3) << 40) == 0;  // 3 TiB, no blocks written
    ::close(fd);
    if (!sparse)
        GTEST_SKIP() << "this file system refuses a sparse 3 TiB file";
    search();
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.row("huge.bin")->Size, "3,221,225,472 KB");
    EXPECT_EQ(host.row("small.tif")->Pages, "1");
}

TEST_F(FolderSearchTest, ExtensionDecidesTheCounter)
{
    // name -> expected Pages cell, with every file saying "pages:2"
    const std::map<QString, QString> cases = {
        {"low.tif", "2"},  {"UP.TIF", "2"},      {"Mixed.Tif", "2"}, {"long.tiff", "2"},
        {"scan.pdf.tif", "2"}, {"doc.PDF", "2"}, {"plain", ""},      {"tif", ""},
    };
    host.filter = "*.*";
    for (const auto &[name, pages] : cases)
        write(name, "pages:2");
    search();
    ASSERT_EQ(host.rows.size(), cases.size());
    for (const auto &[name, pages] : cases)
        EXPECT_EQ(host.row(name)->Pages, pages) << name.toStdString();
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 10  PDF : 2");
}

TEST_F(FolderSearchTest, OneBadFileNeverHidesTheOthers)
{
    write("rejected.tif", "not a tiff");
    write("failing.pdf", "fail");
    write("good.tif", "pages:4");
    write("good.pdf", "pages:5");
    search();
    ASSERT_EQ(host.rows.size(), 4u);
    EXPECT_EQ(host.row("rejected.tif")->Pages, "Error");
    EXPECT_EQ(host.row("failing.pdf")->Pages, "Error");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 4  PDF : 5");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(FolderSearchTest, TotalsGoBeyond32Bits)
{
    for (int i = 0; i < 3; ++i)
        write(QString("big%1.tif").arg(i), "pages:2147483647");
    search();
    EXPECT_EQ(walk.tiffPageTotal(), 3 * int64_t(2147483647));
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 6442450941  PDF : 0");
}

TEST_F(FolderSearchTest, MissingPdfCounterIsReportedWhileTiffsAreCounted)
{
    log.pdfMissing = true;
    write("a.tif", "pages:2");
    write("b.pdf", "pages:7");
    search();
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.row("a.tif")->Pages, "2");
    EXPECT_EQ(host.row("b.pdf")->Pages, "Error");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 2  PDF : 0");
    EXPECT_NE(host.messages.last(), "Done");
    EXPECT_TRUE(host.messages.last().contains("PDF page counter is missing")) << host.messages.last().toStdString();
}

TEST_F(FolderSearchTest, EmptyFolder)
{
    host.files = "3 file(s) found";
    search();
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(host.files, "No file found");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(FolderSearchTest, OwnFilesComeBeforeSubfoldersAndOnlyWhenAsked)
{
    write("top.tif", "pages:1");
    write("sub/mid.tif", "pages:1");
    write("sub/deeper/low.tif", "pages:1");
    write("zz.pdf", "pages:1");
    search();
    EXPECT_EQ(host.rows.size(), 2u) << "subfolders stay out while Include Subfolder is unticked";

    host.subfolders = true;
    search();
    ASSERT_EQ(host.rows.size(), 4u);
    const QStringList names = host.names();
    EXPECT_LT(names.indexOf("top.tif"), names.indexOf("mid.tif"));
    EXPECT_LT(names.indexOf("zz.pdf"), names.indexOf("mid.tif"));
    EXPECT_LT(names.indexOf("mid.tif"), names.indexOf("low.tif"));
    EXPECT_EQ(host.row("low.tif")->Location, dir.filePath("sub/deeper"));
    EXPECT_TRUE(host.messages.contains("Searching " + dir.filePath("sub/deeper")));
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 3  PDF : 1");
}

TEST_F(FolderSearchTest, HiddenFilesAndFilesInHiddenFolders)
{
    write(".secret.tif", "pages:1");
    write(".box/shown.tif", "pages:1");
    write(".box/.inner.pdf", "pages:1");
    host.subfolders = true;
    search();
    EXPECT_EQ(host.names(), QStringList{"shown.tif"});

    host.crit.showHiddenState = search::Ticked;
    search();
    EXPECT_EQ(host.rows.size(), 3u);
}

TEST_F(FolderSearchTest, OneEventLoopTurnPerFileEntry)
{
    write("a.tif", "pages:1");
    write("b.txt", "");       // filtered out
    write(".c.pdf", "");      // hidden
    mkdir("folder");          // folders get no turn of their own
    search();
    EXPECT_EQ(host.turns, 3);
}

TEST_F(FolderSearchTest, RowsGoToTheEndWhateverHappenedBetweenFiles)
{
    for (int i = 0; i < 4; ++i)
        write(QString("f%1.tif").arg(i), "pages:1");
    host.onTurn = [this] {
        if (host.turns == 2) {
            ResultRow foreign;
            foreign.FileName = "inserted meanwhile";
            host.rows.push_back(foreign);
        }
    };
    search();
    ASSERT_EQ(host.rows.size(), 5u);
    EXPECT_EQ(host.rows[2].FileName, "inserted meanwhile");
    EXPECT_EQ(host.files, "5 file(s) found");
}

TEST_F(FolderSearchTest, CancelInADeepWalkKeepsTheRowsListedSoFar)
{
    QString path = "d";
    for (int depth = 0; depth < 6; ++depth, path += "/d")
        for (int i = 0; i < 3; ++i)
            write(path + QString("/f%1.tif").arg(i), "pages:2");
    host.subfolders = true;
    // A second press of the button during the walk: the caption reads "&Cancel" then.
    host.onTurn = [this] {
        if (host.turns == 7) {
            EXPECT_EQ(host.caption, FolderSearch::kCancelCaption);
            walk.cmdSearch_Click(root());
        }
    };
    search();
    EXPECT_EQ(host.rows.size(), 7u);
    EXPECT_EQ(host.files, "7 file(s) found");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 14  PDF : 0");
    ASSERT_GE(host.messages.size(), 2);
    EXPECT_EQ(host.messages.at(host.messages.size() - 2), "Done");
    EXPECT_EQ(host.messages.last(), "Search Terminated by User");
    EXPECT_EQ(host.caption, FolderSearch::kSearchCaption);
    EXPECT_FALSE(walk.isRunning());
    EXPECT_EQ(log.alive, 0);
}

TEST_F(FolderSearchTest, FilterChangedDuringTheRunIsPutBack)
{
    write("a.tif", "pages:1");
    write("sub/b.pdf", "pages:1");
    write("sub/c.tif", "pages:1");
    host.subfolders = true;
    host.onTurn = [this] { host.filter = "*.pdf"; };
    search();
    EXPECT_EQ(host.names().size(), 2) << "the subfolder is entered with the new filter";
    EXPECT_TRUE(host.row("b.pdf"));
    EXPECT_EQ(host.filter, "*.pdf,*.tif,*.tiff");
}

TEST_F(FolderSearchTest, AFolderThatCannotBeReadIsSkippedSilently)
{
    // Running as root, permissions stop nothing: the folder vanishes between being listed by its
    // parent and being opened, which is the same failure a listing refusal gives.
    write("a/one.tif", "pages:1");
    write("gone/two.tif", "pages:1");
    write("c/three.tif", "pages:1");
    host.subfolders = true;
    host.onMessage = [this](const QString &text) {
        if (text.endsWith("/gone"))
            QDir(dir.filePath("gone")).removeRecursively();
    };
    search();
    QStringList names = host.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"one.tif", "three.tif"}));
    EXPECT_EQ(host.files, "2 file(s) found");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(FolderSearchTest, MissingStartFolderEndsWithDone)
{
    walk.cmdSearch_Click(dir.filePath("does-not-exist/"));
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(FolderSearchTest, LinksBackIntoTheCurrentPathAreNotFollowed)
{
    write("a/b/x.tif", "pages:1");
    ASSERT_EQ(::symlink(dir.filePath("a").toLocal8Bit().constData(),
                        dir.filePath("a/b/loop").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink(dir.path().toLocal8Bit().constData(),
                        dir.filePath("a/toRoot").toLocal8Bit().constData()), 0);
    host.subfolders = true;
    search();
    EXPECT_EQ(host.names(), QStringList{"x.tif"});
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(FolderSearchTest, NameThatIsNotUtf8IsListedAndCounted)
{
    const QByteArray rawName("scan-\xe9t\xe9.tif");
    const QByteArray rawPath = QFile::encodeName(dir.path()) + '/' + rawName;
    const int fd = ::open(rawPath.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    // The temporary folder's own clean-up cannot name this file; it goes when the test ends.
    const std::unique_ptr<const char, void (*)(const char *)> unlinkAtEnd(rawPath.constData(),
                                                                           [](const char *p) { ::unlink(p); });
    ASSERT_EQ(::write(fd, "pages:6", 7), 7);
    ::close(fd);
    search();
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].FileName, QString::fromUtf8("scan-\xef\xbf\xbdt\xef\xbf\xbd.tif"));
    EXPECT_EQ(host.rows[0].Pages, "6");
    EXPECT_EQ(platform::pathFromText(host.rows[0].FullPath), rawPath);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].second, rawPath);
}

}  // namespace
