// The Search command without a window: a recording host over the search core, with counters
// that read the page count from the file's own text (FakeCounters.h), over folders built on disk.

#include "FakeCounters.h"
#include "FileNames.h"
#include "SearchCommand.h"
#include "RemoveTree.h"
#include "GuiTestEnvironment.h"  // rows carry pictures, which need a GUI application

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <thread>
#include <unistd.h>

using search::SearchCommand;

namespace {

class RecordingHost : public search::SearchHost
{
public:
    std::vector<ResultRow> rows;
    QString filter = QStringLiteral("*.pdf,*.tif,*.tiff");
    search::SearchCriteria crit;
    bool subfolders = false;
    QString caption = SearchCommand::kSearchCaption;
    QStringList messages;
    QString files;
    QString totals = QStringLiteral("Total Pages : 0");
    QString unreadText, unreadDetails;
    std::function<void()> onAppend;
    std::function<void(const QString &)> onMessage;
    std::thread::id windowThread = std::this_thread::get_id();
    int callsOffTheWindowThread = 0;

    void check()
    {
        if (std::this_thread::get_id() != windowThread)
            ++callsOffTheWindowThread;
    }
    int rowCount() const override { return int(rows.size()) + 1; }
    void clearRows() override { check(); rows.clear(); }
    void appendFile(const search::CountedFile &file, const QPixmap &icon) override
    {
        check();
        ResultRow row = ResultGrid::rowTexts(file);
        row.Icon = icon;
        rows.push_back(row);
        if (onAppend)
            onAppend();
    }
    QPixmap fileIcon(const QString &) override
    {
        check();
        QPixmap icon(16, 16);
        icon.fill(Qt::darkBlue);
        return icon;
    }
    QString filterText() const override { return filter; }
    void setFilterText(const QString &text) override { filter = text; }
    search::SearchOptions searchOptions() const override
    {
        search::SearchOptions o;
        o.criteria = crit;
        o.criteria.filterText = filter;
        o.filterText = filter;
        o.showHiddenState = crit.showHiddenState;
        o.includeSubfolders = subfolders;
        return o;
    }
    void showUnreadFolders(const QString &text, const QString &details) override
    {
        check();
        unreadText = text;
        unreadDetails = details;
    }
    QString searchCaption() const override { return caption; }
    void setSearchCaption(const QString &text) override { caption = text; }
    void showStatus(const QString &text, const QString &key) override
    {
        check();
        if (key == QLatin1String("Message")) {
            messages << text;
            if (onMessage)
                onMessage(text);
        } else if (key == QLatin1String("Files")) {
            files = text;
        }
    }
    void setTotalsText(const QString &text) override { totals = text; }

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

class SearchCommandTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    RecordingHost host;
    CounterLog log;
    SearchCommand walk{host, textCounters(log)};
    int finishedRuns = 0;
    QMetaObject::Connection counting =
        QObject::connect(&walk, &SearchCommand::searchFinished, &walk, [this] { ++finishedRuns; });

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
    // Presses Search and waits for the search to end.
    void search() { searchFolder(root()); }
    void searchFolder(const QString &folder)
    {
        const int before = finishedRuns;
        walk.cmdSearch_Click(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finishedRuns > before; }, 20000));
    }
};

TEST(SearchCommandNames, GetFileExtension)
{
    const std::map<QString, QString> cases = {
        {"scan.tif", "tif"}, {"scan.pdf.tif", "tif"}, {"SCAN.TIFF", "TIFF"},
        {"noext", ""},       {".hidden", "hidden"},   {"trailing.", ""},
    };
    for (const auto &[name, ext] : cases)
        EXPECT_EQ(SearchCommand::GetFileExtension(name), ext) << name.toStdString();
}

TEST(SearchCommandNames, UndecodableBytesRoundTripAndShowAsReplacement)
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

// Everything the window shows, as text: every cell of every row, the status texts in order, the
// totals label.
QStringList shownTexts(const RecordingHost &host)
{
    QStringList out;
    for (const ResultRow &r : host.rows)
        out << QStringList{r.FileName, r.Location, r.Size, r.SizeKb, r.ModifiedDate, r.Pages, r.PagesReason, r.FullPath}
                   .join(u'|');
    out << host.messages << host.files << host.totals << host.caption;
    return out;
}

TEST_F(SearchCommandTest, WhatTheWindowShowsDoesNotDependOnTheNumberOfLanes)
{
    write("a.tif", "pages:3");
    write("b.pdf", "pages:4");
    write("bad.tif", "junk");
    write("fail.pdf", "fail");
    write("slow.pdf", "slow:6");
    write("notes.txt", "");
    for (int i = 0; i < 10; ++i)
        write(QString("sub/s%1.tif").arg(i), "pages:" + QByteArray::number(i));
    write("sub/deeper/d.pdf", "pages:2");
    ASSERT_EQ(::symlink("/nonexistent/gone.tif", QFile::encodeName(dir.filePath("sub/gone.tif")).constData()), 0);
    QStringList shown[2];
    for (int lanes : {1, 4}) {
        for (bool pdfMissing : {false, true}) {
            {
                std::lock_guard lock(log.mutex);
                log.pdfMissing = pdfMissing;
                log.gateOpen = false;
            }
            RecordingHost fresh;
            fresh.subfolders = true;
            fresh.filter = "*.*";
            SearchCommand search(fresh, textCounters(log));
            search.core().setLanes(lanes);
            bool over = false;
            QObject::connect(&search, &SearchCommand::searchFinished, &search, [&] { over = true; });
            search.cmdSearch_Click(root());
            // The slow file finishes once everything else that can be counted was.
            ASSERT_TRUE(QTest::qWaitFor([&] {
                if (log.waiting() > 0)
                    log.openGate();
                return over;
            }, 20000));
            if (lanes == 1)
                shown[pdfMissing] = shownTexts(fresh);
            else
                EXPECT_EQ(shownTexts(fresh), shown[pdfMissing]) << "PDF counter missing: " << pdfMissing;
        }
    }
    EXPECT_EQ(shown[false].filter(QRegularExpression("^Total Pages")), QStringList{"Total Pages  TIFF : 48  PDF : 12"});
    EXPECT_EQ(shown[true].filter(QRegularExpression("^Total Pages")), QStringList{"Total Pages  TIFF : 48  PDF : 0"});
}

TEST_F(SearchCommandTest, FillsEveryCellCountsAndTotals)
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
    EXPECT_EQ(host.caption, SearchCommand::kSearchCaption);
    EXPECT_EQ(tif->PagesReason, "");
    EXPECT_EQ(host.callsOffTheWindowThread, 0) << "the host is only ever called on the window's thread";
}

TEST_F(SearchCommandTest, SizesRoundUpToWholeKilobytesWithGroups)
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

TEST_F(SearchCommandTest, SizeBeyond32BitKilobytesStillShows)
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

TEST_F(SearchCommandTest, ExtensionDecidesTheCounter)
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

TEST_F(SearchCommandTest, OneBadFileNeverHidesTheOthers)
{
    write("rejected.tif", "not a tiff");
    write("failing.pdf", "fail");
    write("good.tif", "pages:4");
    write("good.pdf", "pages:5");
    search();
    ASSERT_EQ(host.rows.size(), 4u);
    EXPECT_EQ(host.row("rejected.tif")->Pages, "Error");
    EXPECT_EQ(host.row("rejected.tif")->PagesReason, "Not a TIFF file");
    EXPECT_EQ(host.row("failing.pdf")->Pages, "Error");
    EXPECT_EQ(host.row("failing.pdf")->PagesReason, "The page counter failed");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 4  PDF : 5");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(SearchCommandTest, TotalsGoBeyond32Bits)
{
    for (int i = 0; i < 3; ++i)
        write(QString("big%1.tif").arg(i), "pages:2147483647");
    search();
    EXPECT_EQ(walk.tiffPageTotal(), 3 * int64_t(2147483647));
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 6442450941  PDF : 0");
}

TEST_F(SearchCommandTest, MissingPdfCounterIsReportedWhileTiffsAreCounted)
{
    log.pdfMissing = true;
    write("a.tif", "pages:2");
    write("b.pdf", "pages:7");
    search();
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.row("a.tif")->Pages, "2");
    EXPECT_EQ(host.row("b.pdf")->Pages, "Error");
    EXPECT_EQ(host.row("b.pdf")->PagesReason, "The page counter is missing");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 2  PDF : 0");
    EXPECT_NE(host.messages.last(), "Done");
    EXPECT_TRUE(host.messages.last().contains("PDF page counter is missing")) << host.messages.last().toStdString();
    EXPECT_TRUE(host.messages.last().contains("not registered (test)")) << "the status names what failed";
}

TEST_F(SearchCommandTest, CancelWhileACounterIsMissingShowsBoth)
{
    log.pdfMissing = true;
    write("a.tif", "slow:2");
    write("b.pdf", "pages:7");
    walk.cmdSearch_Click(root());
    ASSERT_TRUE(QTest::qWaitFor([this] { return log.waiting() == 1; }, 20000));
    walk.cmdSearch_Click(root());  // the button reads "&Cancel" now
    ASSERT_TRUE(QTest::qWaitFor([this] { return finishedRuns == 1; }, 20000));
    EXPECT_EQ(host.messages.last(), "Search Terminated by User - the PDF page counter is missing");
    EXPECT_EQ(host.caption, SearchCommand::kSearchCaption);
}

TEST_F(SearchCommandTest, ZeroPagesShowAsZeroNotError)
{
    write("blank.pdf", "pages:0");
    write("blank.tif", "pages:0");
    search();
    EXPECT_EQ(host.row("blank.pdf")->Pages, "0");
    EXPECT_EQ(host.row("blank.tif")->Pages, "0");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(host.files, "2 file(s) found");
}

TEST_F(SearchCommandTest, EmptyFolder)
{
    host.files = "3 file(s) found";
    search();
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(host.files, "No file found");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(SearchCommandTest, OwnFilesComeBeforeSubfoldersAndOnlyWhenAsked)
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

TEST_F(SearchCommandTest, HiddenFilesAndFilesInHiddenFolders)
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

TEST_F(SearchCommandTest, CountingNeverRunsOnTheWindowThread)
{
    write("a.tif", "pages:1");
    write("b.txt", "");
    write(".c.pdf", "");
    write("folder/d.pdf", "pages:1");
    host.subfolders = true;
    search();
    EXPECT_EQ(host.rows.size(), 2u);
    ASSERT_FALSE(log.callThreads.empty());
    EXPECT_EQ(log.callThreads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(host.callsOffTheWindowThread, 0);
}

TEST_F(SearchCommandTest, RowsGoToTheEndWhateverHappenedBetweenFiles)
{
    for (int i = 0; i < 4; ++i)
        write(QString("f%1.tif").arg(i), "pages:1");
    host.onAppend = [this] {
        if (host.rows.size() == 2) {
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

TEST_F(SearchCommandTest, CancelInADeepWalkKeepsTheRowsListedSoFar)
{
    QString path = "d";
    for (int depth = 0; depth < 6; ++depth, path += "/d")
        for (int i = 0; i < 3; ++i)
            write(path + QString("/f%1.tif").arg(i), "pages:2");
    host.subfolders = true;
    // A second press of the button during the walk: the caption reads "&Cancel" then.
    host.onAppend = [this] {
        if (host.rows.size() == 7) {
            EXPECT_EQ(host.caption, SearchCommand::kCancelCaption);
            walk.cmdSearch_Click(root());
        }
    };
    walk.cmdSearch_Click(root());
    ASSERT_TRUE(QTest::qWaitFor([this] { return finishedRuns == 1; }, 20000));
    EXPECT_EQ(host.rows.size(), 7u);
    EXPECT_EQ(host.files, "7 file(s) found");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 14  PDF : 0");
    ASSERT_GE(host.messages.size(), 2);
    EXPECT_EQ(host.messages.at(host.messages.size() - 2), "Done");
    EXPECT_EQ(host.messages.last(), "Search Terminated by User");
    EXPECT_EQ(host.caption, SearchCommand::kSearchCaption);
    EXPECT_FALSE(walk.isRunning());
}

TEST_F(SearchCommandTest, FilterChangedDuringTheRunIsPutBack)
{
    write("a.tif", "pages:1");
    write("sub/b.pdf", "pages:1");
    write("sub/c.tif", "pages:1");
    host.subfolders = true;
    // The walk lists one entry ahead of the rows shown, so the subfolder is entered after the
    // first row, with whatever the box holds then.
    walk.core().setWalkAhead(1);
    host.onAppend = [this] {
        host.filter = "*.pdf";
        walk.optionsChanged();
    };
    search();
    EXPECT_EQ(host.names().size(), 2) << "the subfolder is entered with the new filter";
    EXPECT_TRUE(host.row("b.pdf"));
    EXPECT_EQ(host.filter, "*.pdf,*.tif,*.tiff");
}

TEST_F(SearchCommandTest, AFolderThatCannotBeReadIsSaidAfterTheSearchAndTheRestIsSearched)
{
    // A folder whose path is longer than the system accepts cannot be opened by anyone, root
    // included: the same failure a refused listing gives.
    write("a/one.tif", "pages:1");
    write("c/three.tif", "pages:1");
    int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const std::string part(200, 'd');
    for (int level = 0; level < 24; ++level) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "two.tif", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "pages:1", 7), 7);
    ::close(file);
    ::close(fd);
    const int top = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    const std::unique_ptr<const int, void (*)(const int *)> cleanUp(&top, [](const int *t) {
        removeTree(*t, std::string(200, 'd').c_str());
        ::close(*t);
    });

    host.subfolders = true;
    search();
    QStringList names = host.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"one.tif", "three.tif"}));
    EXPECT_EQ(host.files, "2 file(s) found");
    EXPECT_EQ(host.messages.last(), "Done");
    EXPECT_EQ(host.unreadText, "1 folder could not be read");
    EXPECT_TRUE(host.unreadDetails.startsWith(dir.path() + '/' + QString(200, 'd'))) << host.unreadDetails.toStdString();
    EXPECT_TRUE(host.unreadDetails.endsWith(": " + QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))))
        << host.unreadDetails.toStdString();

    // The next search that reads everything takes the note away.
    host.subfolders = false;
    search();
    EXPECT_EQ(host.unreadText, "");
}

TEST(SearchCommandTexts, UnreadFoldersAndAVanishedFolderAreSaidInWords)
{
    EXPECT_EQ(SearchCommand::unreadFoldersText(0), "");
    EXPECT_EQ(SearchCommand::unreadFoldersText(1), "1 folder could not be read");
    EXPECT_EQ(SearchCommand::unreadFoldersText(2), "2 folders could not be read");
    EXPECT_EQ(SearchCommand::unreadFoldersDetails({{"/a/b", "Permission denied"}, {"/c\xff", "Input/output error"}}),
              QString::fromUtf8("/a/b: Permission denied\n/c\xef\xbf\xbd: Input/output error"));
    EXPECT_EQ(SearchCommand::goneFolderText("/srv/scans/", ENOENT), "/srv/scans no longer exists");
    EXPECT_EQ(SearchCommand::goneFolderText("/srv/scans", ENOTCONN),
              "/srv/scans can no longer be read: " + QString::fromLocal8Bit(std::strerror(ENOTCONN)));
}

TEST_F(SearchCommandTest, MissingStartFolderEndsAsAnEmptySearch)
{
    write("a.tif", "pages:2");
    search();
    ASSERT_EQ(host.rows.size(), 1u);
    searchFolder(dir.filePath("does-not-exist/"));
    EXPECT_TRUE(host.rows.empty()) << "the previous search's rows do not stay under the new address";
    EXPECT_EQ(host.files, "No file found");
    EXPECT_EQ(host.totals, "Total Pages  TIFF : 0  PDF : 0");
    EXPECT_EQ(host.messages.last(), "Done");
}

TEST_F(SearchCommandTest, LinksBackIntoTheCurrentPathAreNotFollowed)
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

TEST_F(SearchCommandTest, NameThatIsNotUtf8IsListedAndCounted)
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
    EXPECT_EQ(log.calls[0], rawPath);
}

}  // namespace
