// The search core without any widget: a plain QCoreApplication, counters that read their answer
// from the file (FakeCounters.h), folders built on disk. Rows are checked as a log of signals.

#include "CoreTestEnvironment.h"
#include "FakeCounters.h"
#include "SearchCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include <cstring>
#include <dirent.h>
#include <map>
#include <thread>

#include "RefusedUser.h"
#include "RemoveTree.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using search::CountedFile;
using search::SearchCore;
using search::SearchSummary;

namespace {

// Everything a search signals, as text, plus the summary.
struct Recording
{
    QStringList log;
    std::vector<CountedFile> files;
    std::optional<SearchSummary> summary;
    std::function<void(const CountedFile &)> onFile;

    void attach(SearchCore &core)
    {
        QObject::connect(&core, &SearchCore::folderStarted, &core,
                         [this](const QByteArray &f) { log << "start " + QString::fromUtf8(f); });
        QObject::connect(&core, &SearchCore::fileCounted, &core, [this](const CountedFile &f) {
            files.push_back(f);
            log << QStringLiteral("file %1 %2 %3 %4")
                       .arg(QString::fromUtf8(f.path))
                       .arg(int(f.type))
                       .arg(f.type == search::FileType::Other ? 0 : f.pages)
                       .arg(f.size);
            if (onFile)
                onFile(f);
        });
        QObject::connect(&core, &SearchCore::folderFinished, &core,
                         [this](const QByteArray &f) { log << "finish " + QString::fromUtf8(f); });
        QObject::connect(&core, &SearchCore::finished, &core, [this](const SearchSummary &s) {
            summary = s;
            log << QStringLiteral("end tiff=%1 pdf=%2 files=%3 failed=%4 cancelled=%5 tiffMissing=%6 pdfMissing=%7")
                       .arg(s.tiffPages)
                       .arg(s.pdfPages)
                       .arg(s.files)
                       .arg(s.failed)
                       .arg(s.cancelled)
                       .arg(s.tiffCounterMissing)
                       .arg(s.pdfCounterMissing);
        });
    }
    QStringList names() const
    {
        QStringList out;
        for (const CountedFile &f : files)
            out << QString::fromUtf8(f.name);
        return out;
    }
};

class SearchCoreTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    CounterLog log;

    QByteArray root() const { return QFile::encodeName(dir.path()) + '/'; }
    QByteArray path(const QString &relative) const { return QFile::encodeName(dir.filePath(relative)); }
    void write(const QString &relative, const QByteArray &content)
    {
        const QString p = dir.filePath(relative);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void setOptions(SearchCore &core, const std::function<void(search::SearchOptions &)> &change)
    {
        search::SearchOptions o = core.options().get();
        change(o);
        core.options().set(o);
    }
    // Every file of the tree, subfolders included.
    void listEverything(SearchCore &core)
    {
        setOptions(core, [](search::SearchOptions &o) {
            o.filterText = "*.*";
            o.includeSubfolders = true;
        });
    }
    // A tree with every kind of entry the walk meets: counted types, rejected and failing files,
    // names the counters never see, a hidden file, a link to a file that is gone, two slow files,
    // nested folders. 25 files listed, 23 of them counted.
    void buildMixedTree()
    {
        write("a.tif", "pages:3");
        write("slow.pdf", "slow:4");
        write("b.PDF", "pages:12");
        write("c.tiff", "pages:2");
        write("rejected.tif", "not a tiff");
        write("failing.pdf", "fail");
        write("zero.tif", "pages:0");
        write("notes.txt", "pages:99");
        write("noext", "x");
        write(".hidden.tif", "pages:5");
        for (int i = 0; i < 12; ++i)
            write(QString("sub/s%1.tif").arg(i), "pages:" + QByteArray::number(i + 1));
        write("sub/deeper/d.pdf", "pages:7");
        write("sub/deeper/slow2.tif", "slow:1");
        write("other/o.pdf", "pages:1");
        ASSERT_EQ(::symlink("/nonexistent/target.pdf", path("sub/vanished.pdf").constData()), 0);
    }
    // Names in the folder in the file system's order (the walk's order).
    QStringList walkOrder() const
    {
        QStringList names;
        DIR *d = ::opendir(QFile::encodeName(dir.path()).constData());
        while (const dirent *e = ::readdir(d))
            if (e->d_name[0] != '.')
                names << QString::fromUtf8(e->d_name);
        ::closedir(d);
        return names;
    }
    // Runs a search to its end.
    void run(SearchCore &core, Recording &rec, const QByteArray &folder)
    {
        rec.summary.reset();
        core.start(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
    }
};

class LaneCountTest : public SearchCoreTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LaneCountTest, RowsOrderTotalsAndTextsDoNotDependOnTheNumberOfLanes)
{
    const bool pdfMissing = GetParam();
    log.pdfMissing = pdfMissing;
    buildMixedTree();
    // Calls other than the two slow ones (the PDF calls are left out when its counter is missing).
    const size_t quickCalls = pdfMissing ? 16 : 21;
    QStringList logs[2];
    int run = 0;
    for (int lanes : {1, 4}) {
        {
            std::lock_guard lock(log.mutex);
            log.gateOpen = false;
            log.calls.clear();
            log.callThreads.clear();
            log.callsWhileSlowWaiting = 0;
        }
        SearchCore core(textCounters(log));
        core.setLanes(lanes);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        core.start(root());
        // One lane: the slow file holds everything behind it. Four lanes: the slow files finish
        // only after every other file was counted, so the lanes finish far out of order.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            std::unique_lock lock(log.mutex);
            const bool open = log.slowWaiting > 0 && (lanes == 1 || log.calls.size() >= quickCalls + log.slowWaiting);
            lock.unlock();
            if (open)
                log.openGate();
            return rec.summary.has_value();
        }, 20000));
        logs[run++] = rec.log;
        // The slow PDF is in the top folder, the subfolder's files after it: other lanes count
        // them while it waits.
        if (lanes == 4 && !pdfMissing) {
            EXPECT_GT(log.callsWhileSlowWaiting, 0) << "four lanes count side by side";
        }
    }
    EXPECT_EQ(logs[0], logs[1]);
    const QStringList &l = logs[0];
    ASSERT_FALSE(l.isEmpty());
    EXPECT_EQ(l.first(), "start " + QString::fromUtf8(root()));
    EXPECT_GT(l.indexOf("start " + dir.filePath("sub/deeper")), l.indexOf("start " + dir.filePath("sub")))
        << "depth first";
    EXPECT_LT(l.indexOf(QRegularExpression("^file .*/a.tif ")), l.indexOf("start " + dir.filePath("sub")))
        << "a folder's own files first";
    EXPECT_EQ(l.last(), pdfMissing
                            ? "end tiff=84 pdf=0 files=25 failed=7 cancelled=0 tiffMissing=0 pdfMissing=1"
                            : "end tiff=84 pdf=24 files=25 failed=3 cancelled=0 tiffMissing=0 pdfMissing=0");
}

INSTANTIATE_TEST_SUITE_P(PdfCounter, LaneCountTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Missing" : "Present"; });

TEST_F(SearchCoreTest, EveryCountedFileCarriesItsCodeAndFacts)
{
    write("a.tif", "pages:3");
    write("zero.pdf", "pages:0");
    write("bad.pdf", "nope");
    write("fail.tif", "fail");
    write("plain.txt", "");
    SearchCore core(textCounters(log));
    setOptions(core, [](search::SearchOptions &o) { o.filterText = "*.*"; });
    Recording rec;
    rec.attach(core);
    run(core, rec, root());
    std::map<QString, std::pair<search::FileType, int32_t>> got;
    for (const CountedFile &f : rec.files) {
        got[QString::fromUtf8(f.name)] = {f.type, f.pages};
        EXPECT_TRUE(f.factsKnown);
        EXPECT_EQ(f.folder, QFile::encodeName(dir.path()));
        EXPECT_EQ(f.path, f.folder + '/' + f.name);
    }
    using search::FileType;
    EXPECT_EQ(got["a.tif"], std::make_pair(FileType::Tiff, 3));
    EXPECT_EQ(got["zero.pdf"], std::make_pair(FileType::Pdf, 0));
    EXPECT_EQ(got["bad.pdf"], std::make_pair(FileType::Pdf, search::kWrongSignature));
    EXPECT_EQ(got["fail.tif"], std::make_pair(FileType::Tiff, search::kCallFailed));
    EXPECT_EQ(got["plain.txt"].first, FileType::Other);
    EXPECT_EQ(rec.summary->failed, 2);
    EXPECT_EQ(rec.summary->tiffPages, 3);
    EXPECT_EQ(rec.summary->files, 5);
}

TEST_F(SearchCoreTest, CancelDuringASlowFileDoesNotWaitForTheLane)
{
    write("a.tif", "pages:1");
    write("b.pdf", "slow:9");
    write("c.tif", "pages:1");
    log.honourAbort = false;  // the worst case: a counter that cannot be interrupted
    {
        SearchCore core(textCounters(log));
        core.setLanes(1);
        Recording rec;
        rec.attach(core);
        const QStringList before = walkOrder().mid(0, walkOrder().indexOf("b.pdf"));
        core.start(root());
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1 && rec.names() == before; }, 20000));
        core.cancel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
        EXPECT_TRUE(rec.summary->cancelled);
        EXPECT_EQ(log.waiting(), 1) << "the slow call is still running: nobody waited for it";
        EXPECT_EQ(rec.names(), before);
        EXPECT_EQ(log.aborts, 2) << "both counters of the busy lane were asked to stop";

        // The abandoned call returns later; its result is dropped and nothing else is signalled.
        const QStringList signalled = rec.log;
        log.openGate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.aliveCount() == 0; }, 20000))
            << "the abandoned lane releases its counters once its call returns";
        QCoreApplication::processEvents();
        EXPECT_EQ(rec.log, signalled);
        EXPECT_FALSE(core.isRunning());

        // The next search gets a fresh lane and counts everything.
        log.gateOpen = true;
        run(core, rec, root());
        EXPECT_EQ(rec.summary->pdfPages, 9);
        EXPECT_FALSE(rec.summary->cancelled);
    }
    EXPECT_EQ(log.releasedOnOtherThread, 0) << "counters are released on the thread that made them";
    EXPECT_EQ(log.aliveCount(), 0);
}

TEST_F(SearchCoreTest, CancelAbortsTheCallInProgressAndDestroyingTheCoreDoesNotHang)
{
    write("slow.tif", "slow:1");
    auto core = std::make_unique<SearchCore>(textCounters(log));
    Recording rec;
    rec.attach(*core);
    core->start(root());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
    core->cancel();
    EXPECT_TRUE(core->isRunning()) << "finished(cancelled) comes from the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 0; }, 20000)) << "abort() ended the call";

    // Destroyed in the middle of the next slow file: the abort ends it, the lane lets go.
    core->start(root());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
    core.reset();
    EXPECT_EQ(log.aliveCount(), 0);
    EXPECT_EQ(log.releasedOnOtherThread, 0);
    EXPECT_EQ(SearchCore::busyThreads(), 0);
}

TEST_F(SearchCoreTest, CountersLiveAcrossSearchesOneSetPerLane)
{
    write("a.tif", "pages:1");
    write("b.pdf", "pages:1");
    {
        SearchCore core(textCounters(log));
        core.setLanes(1);
        Recording rec;
        rec.attach(core);
        run(core, rec, root());
        run(core, rec, root());
        write("sub/c.tif", "pages:1");
        run(core, rec, path("sub"));
        EXPECT_EQ(log.factories, 1);
        EXPECT_EQ(log.created, 2) << "one TIFF and one PDF counter for all three searches";
        EXPECT_EQ(log.aliveCount(), 2) << "kept while the program runs";
    }
    EXPECT_EQ(log.aliveCount(), 0);
    EXPECT_EQ(log.releasedOnOtherThread, 0);
}

TEST_F(SearchCoreTest, StartWhileRunningEndsTheOldSearchFirst)
{
    write("slow.tif", "slow:1");
    write("other/a.pdf", "pages:2");
    SearchCore core(textCounters(log));
    Recording rec;
    rec.attach(core);
    core.start(root());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
    core.start(path("other"));
    ASSERT_TRUE(rec.summary.has_value()) << "the cancelled search ended inside start";
    EXPECT_TRUE(rec.summary->cancelled);
    rec.summary.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
    EXPECT_FALSE(rec.summary->cancelled);
    EXPECT_EQ(rec.summary->pdfPages, 2);
    EXPECT_EQ(rec.names(), QStringList{"a.pdf"});
}

TEST_F(SearchCoreTest, MissingTopFolderEndsAsAnEmptySearch)
{
    for (const QByteArray &folder : {path("does-not-exist") + '/', path("a-file")}) {
        write("a-file", "x");
        SearchCore core(textCounters(log));
        Recording rec;
        rec.attach(core);
        run(core, rec, folder);
        EXPECT_TRUE(rec.summary->topFolderMissing) << folder.constData();
        EXPECT_EQ(rec.log, (QStringList{"start " + QString::fromUtf8(folder), "finish " + QString::fromUtf8(folder),
                                        "end tiff=0 pdf=0 files=0 failed=0 cancelled=0 tiffMissing=0 pdfMissing=0"}));
    }
}

// The criteria are read as each file is listed: a change made while the search runs applies to
// the files listed after it.
TEST_F(SearchCoreTest, CriteriaAreReadForEveryFileDuringARun)
{
    for (int i = 0; i < 6; ++i)
        write(QString("f%1.txt").arg(i), QByteArray(2048, 'x'));  // 2 KB each
    SearchCore core(textCounters(log));
    core.setWalkAhead(1);
    setOptions(core, [](search::SearchOptions &o) { o.filterText = "*.*"; });
    Recording rec;
    rec.attach(core);
    rec.onFile = [&](const CountedFile &) {
        if (rec.files.size() == 2)
            setOptions(core, [](search::SearchOptions &o) {
                o.criteria.sizeTestOn = true;
                o.criteria.atMode = true;
                o.criteria.leastOrMost = "Most";
                o.criteria.sizeLimitText = "1";
            });
    };
    run(core, rec, root());
    EXPECT_EQ(rec.files.size(), 2u) << "files after the change are 2 KB, above the new limit of 1 KB";
}

struct DateCase
{
    const char *kind;
    QDate from, to;
    QStringList expected;
};

TEST_F(SearchCoreTest, DateWindowUsesTheStampItsKindNames)
{
    // modified 2001 / accessed 2005, and the other way round; both were created (changed) today.
    const QDate today = QDate::currentDate();
    const std::vector<DateCase> cases = {
        {"Files Modified", {2001, 6, 1}, {2001, 6, 30}, {"m2001.txt"}},
        {"Files Last Accessed", {2001, 6, 1}, {2001, 6, 30}, {"a2001.txt"}},
        {"Files Created", {2001, 6, 1}, {2005, 6, 30}, {}},
        {"Files Created", today.addDays(-1), today, {"a2001.txt", "m2001.txt"}},
    };
    SearchCore core(textCounters(log));
    Recording rec;
    rec.attach(core);
    for (const DateCase &c : cases) {
        write("m2001.txt", "x");
        write("a2001.txt", "x");
        const auto stamp = [&](const char *name, QDate accessed, QDate modified) {
            const timespec times[2] = {{QDateTime(accessed, QTime(12, 0)).toSecsSinceEpoch(), 0},
                                       {QDateTime(modified, QTime(12, 0)).toSecsSinceEpoch(), 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path(name).constData(), times, 0), 0);
        };
        stamp("m2001.txt", {2005, 6, 15}, {2001, 6, 15});
        stamp("a2001.txt", {2001, 6, 15}, {2005, 6, 15});
        setOptions(core, [&](search::SearchOptions &o) {
            o.filterText = "*.txt";
            o.criteria.dateTestOn = true;
            o.criteria.dateKind = c.kind;
            o.criteria.inTheLastMode = false;
            o.criteria.rangeStart = QDateTime(c.from, QTime(0, 0));
            o.criteria.rangeEnd = QDateTime(c.to, QTime(0, 0));
        });
        rec.files.clear();
        run(core, rec, root());
        QStringList names = rec.names();
        names.sort();
        EXPECT_EQ(names, c.expected) << c.kind << " " << c.from.toString().toStdString();
    }
}

TEST_F(SearchCoreTest, SizeWindowAppliesInTheWalk)
{
    struct SizeCase
    {
        bool atMode;
        const char *leastOrMost, *limit, *from, *to;
        QStringList expected;
    };
    write("k0.txt", "");
    write("k1.txt", QByteArray(1000, 'x'));
    write("k3.txt", QByteArray(3000, 'x'));
    const std::vector<SizeCase> cases = {
        {true, "Least", "2", "", "", {"k3.txt"}},
        {true, "Most", "1", "", "", {"k0.txt", "k1.txt"}},
        {false, "", "", "1", "3", {"k1.txt", "k3.txt"}},
        {false, "", "", "x", "3", {}},  // a box without a number fails every file
    };
    SearchCore core(textCounters(log));
    Recording rec;
    rec.attach(core);
    for (const SizeCase &c : cases) {
        setOptions(core, [&](search::SearchOptions &o) {
            o.filterText = "*.txt";
            o.criteria.sizeTestOn = true;
            o.criteria.atMode = c.atMode;
            o.criteria.leastOrMost = c.leastOrMost;
            o.criteria.sizeLimitText = c.limit;
            o.criteria.sizeFromText = c.from;
            o.criteria.sizeToText = c.to;
        });
        rec.files.clear();
        run(core, rec, root());
        QStringList names = rec.names();
        names.sort();
        EXPECT_EQ(names, c.expected) << c.leastOrMost << c.limit << c.from;
    }
}

TEST_F(SearchCoreTest, ManyFilesArriveInWalkOrderWithoutLoss)
{
    // More entries than the walk may list ahead, than the lanes may count ahead and than one
    // batch of signals.
    for (int i = 0; i < 600; ++i)
        write(QString("f%1.%2").arg(i, 4, 10, QLatin1Char('0')).arg(i % 3 == 0 ? "tif" : i % 3 == 1 ? "pdf" : "txt"),
              "pages:" + QByteArray::number(i % 5));
    SearchCore core(textCounters(log));
    core.setLanes(3);
    core.setWalkAhead(64);
    core.setLookaheadPerLane(5);
    setOptions(core, [](search::SearchOptions &o) { o.filterText = "*.*"; });
    Recording rec;
    rec.attach(core);
    run(core, rec, root());
    ASSERT_EQ(rec.files.size(), 600u);
    // The walk takes the file system's order; the rows must keep it.
    std::vector<QByteArray> raw;
    DIR *d = ::opendir(QFile::encodeName(dir.path()).constData());
    while (const dirent *e = ::readdir(d))
        if (e->d_name[0] != '.')
            raw.emplace_back(e->d_name);
    ::closedir(d);
    ASSERT_EQ(raw.size(), rec.files.size());
    for (size_t i = 0; i < raw.size(); ++i)
        ASSERT_EQ(rec.files[i].name, raw[i]) << i;
    int64_t tiff = 0;
    for (int i = 0; i < 600; i += 3)
        tiff += i % 5;
    EXPECT_EQ(rec.summary->tiffPages, tiff);
}

// A lane that takes a PDF announces the PDFs near it to its counter and asks for them in that
// order: rows, order and totals are those of a run without announcements.
TEST_F(SearchCoreTest, PdfsAnnouncedAheadAreAskedForInThatOrderAndChangeNothing)
{
    // The gate holds a lane until the walk has listed everything, so batches do not depend on
    // how fast the walk runs.
    write("gate.tif", "slow:1");
    for (int i = 0; i < 300; ++i)
        write(QString("%1/f%2.%3").arg(i % 2 ? "x" : "y").arg(i, 4, 10, QLatin1Char('0')).arg(i % 3 == 0 ? "tif" : i % 3 == 1 ? "pdf" : "txt"),
              i % 17 == 1 ? "fail" : i % 13 == 1 ? "not a pdf" : "pages:" + QByteArray::number(i % 5));
    QStringList logs[3];
    int announced[3] = {};
    QStringList calls[3];
    int run = 0;
    for (const auto &[lanes, prefetching] : {std::pair{1, false}, std::pair{1, true}, std::pair{3, true}}) {
        {
            std::lock_guard lock(log.mutex);
            log.prefetching = prefetching;
            log.gateOpen = false;
            log.announced = log.announcedCalls = 0;
            log.calls.clear();
        }
        SearchCore core(textCounters(log));
        core.setLanes(lanes);
        core.setLookaheadPerLane(1000);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        core.start(root());
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
        QTest::qWait(300);
        log.openGate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
        logs[run] = rec.log;
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.announcedCalls, log.announced) << "every announced file is asked for";
        for (const QByteArray &call : log.calls)
            if (call.endsWith(".pdf"))
                calls[run] << QString::fromUtf8(call);
        announced[run++] = log.announced;
    }
    // One lane asks for the PDFs in walk order whether or not it announces them (it may take
    // PDFs ahead of other files): a batch taken out of order would keep every row after its first
    // waiting for the whole batch.
    EXPECT_EQ(calls[0].join('\n').toStdString(), calls[1].join('\n').toStdString());
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(logs[0], logs[2]);
    EXPECT_TRUE(logs[0].last().startsWith("end ")) << logs[0].last().toStdString();
    EXPECT_EQ(announced[0], 0);
    EXPECT_GE(announced[1], 50) << "one lane announces the 100 PDFs in batches";
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.outOfOrderCalls, 0);
}

// A lane announces only files inside the look-ahead window: the window bounds what is counted
// before the rows ahead of it are shown.
TEST_F(SearchCoreTest, AnnouncementsStayInsideTheLookAheadWindow)
{
    write("gate.tif", "slow:1");
    for (int i = 0; i < 40; ++i)
        write(QString("sub/p%1.pdf").arg(i, 2, 10, QLatin1Char('0')), "pages:1");
    log.prefetching = true;
    for (int lookahead : {3, 7}) {
        {
            std::lock_guard lock(log.mutex);
            log.gateOpen = false;
            log.largestAnnouncement = 0;
        }
        SearchCore core(textCounters(log));
        core.setLanes(1);
        core.setLookaheadPerLane(lookahead);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        core.start(root());
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
        log.openGate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
        EXPECT_EQ(rec.summary->pdfPages, 40);
        std::lock_guard lock(log.mutex);
        EXPECT_LE(log.largestAnnouncement, lookahead) << "the window, and no further";
        EXPECT_GE(log.largestAnnouncement, 2) << "files went ahead at all";
    }
}

// Cancelling while a lane holds announced files behind a slow one drops them with the search;
// the next search counts every file.
TEST_F(SearchCoreTest, CancelDuringAnAnnouncedBatchLeavesTheNextSearchWhole)
{
    write("a.tif", "slow:1");  // holds the only lane until the walk has listed the subfolder
    write("sub/b0.pdf", "hold");
    for (int i = 1; i <= 10; ++i)
        write(QString("sub/b%1.pdf").arg(i), "pages:2");
    log.prefetching = true;
    SearchCore core(textCounters(log));
    core.setLanes(1);
    setOptions(core, [](search::SearchOptions &o) { o.includeSubfolders = true; });
    Recording rec;
    rec.attach(core);
    core.start(root());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
    QTest::qWait(300);
    log.openGate();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::lock_guard lock(log.mutex);
        return log.slowWaiting == 1 && !log.calls.empty() && log.calls.back().endsWith("b0.pdf");
    }, 20000));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.announced, 11) << "the slow file and those after it went ahead together";
    }
    core.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
    EXPECT_TRUE(rec.summary->cancelled);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 0; }, 20000));

    write("sub/b0.pdf", "pages:2");
    rec.files.clear();
    run(core, rec, root());
    EXPECT_FALSE(rec.summary->cancelled);
    EXPECT_EQ(rec.files.size(), 12u);
    EXPECT_EQ(rec.summary->pdfPages, 11 * 2);
    EXPECT_EQ(rec.summary->tiffPages, 1);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.outOfOrderCalls, 0);
}

TEST(SearchCoreNames, FileTypeComesFromTheLastExtension)
{
    using search::FileType;
    const std::vector<std::pair<QByteArray, FileType>> cases = {
        {"a.tif", FileType::Tiff}, {"A.TIFF", FileType::Tiff}, {"x.pdf.tif", FileType::Tiff},
        {"b.Pdf", FileType::Pdf},  {"c.tif.pdf", FileType::Pdf}, {"tif", FileType::Other},
        {"d.tifx", FileType::Other}, {"e.", FileType::Other},   {".pdf", FileType::Pdf},
    };
    for (const auto &[name, type] : cases)
        EXPECT_EQ(search::fileTypeOf(name), type) << name.constData();
}

}  // namespace

// ---------------------------------------------------------------- the walk's shape

namespace {

// The folder's entries in the file system's order, without "." and "..".
std::vector<std::pair<QByteArray, unsigned char>> rawEntries(const QByteArray &folder)
{
    std::vector<std::pair<QByteArray, unsigned char>> out;
    DIR *d = ::opendir(folder.constData());
    if (!d)
        return out;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            out.emplace_back(name, e->d_type);
    }
    ::closedir(d);
    return out;
}

// Every file below folder in the walk's order, worked out independently: a folder's own files
// in listing order, then each subfolder the same way, in listing order.
void referenceOrder(const QByteArray &folder, QList<QByteArray> &paths)
{
    const auto entries = rawEntries(folder);
    for (const auto &[name, type] : entries)
        if (type == DT_REG)
            paths << folder + '/' + name;
    for (const auto &[name, type] : entries)
        if (type == DT_DIR)
            referenceOrder(folder + '/' + name, paths);
}

struct WalkOptionsCase
{
    const char *name;
    std::function<void(search::SearchOptions &)> set;
};

class ParallelWalkTest : public SearchCoreTest, public ::testing::WithParamInterface<WalkOptionsCase>
{
protected:
    // 52 folders three levels deep, one of them holding more entries than a listing step and
    // many fact chunks; counted, hidden, other and larger files in each.
    void buildWideTree()
    {
        QStringList folders{""};
        for (int i = 0; i < 4; ++i) {
            folders << QString("d%1").arg(i);
            for (int j = 0; j < 3; ++j) {
                folders << QString("d%1/e%2").arg(i).arg(j);
                for (int k = 0; k < 3; ++k)
                    folders << QString("d%1/e%2/g%3").arg(i).arg(j).arg(k);
            }
        }
        int n = 0;
        for (const QString &f : folders) {
            const QString base = f.isEmpty() ? QString() : f + '/';
            write(base + QString("a%1.tif").arg(n), "pages:" + QByteArray::number(n % 7));
            write(base + QString("b%1.pdf").arg(n), "pages:" + QByteArray::number(n % 5 + 1));
            write(base + QString("c%1.txt").arg(n), "x");
            write(base + QString(".h%1.tif").arg(n), "pages:1");
            write(base + QString("big%1.pdf").arg(n), "pages:2" + QByteArray(3000, ' '));
            ++n;
        }
        for (int i = 0; i < 700; ++i)
            write(QString("d1/e2/many/m%1.%2").arg(i).arg(i % 2 ? "tif" : "dat"), "pages:1");
    }
    QStringList runWith(int listingThreads)
    {
        SearchCore core(textCounters(log));
        core.setListingThreads(listingThreads);
        core.setLanes(2);
        setOptions(core, GetParam().set);
        Recording rec;
        rec.attach(core);
        core.start(root());
        EXPECT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 60000));
        return rec.log;
    }
};

TEST_P(ParallelWalkTest, ListingAheadGivesTheOrderOfTheWalkOneFolderAtATime)
{
    log.gateOpen = true;
    buildWideTree();
    const QStringList sequential = runWith(0);
    ASSERT_FALSE(sequential.isEmpty());
    EXPECT_TRUE(sequential.last().startsWith("end ")) << sequential.last().toStdString();
    for (int threads : {1, 3, 8}) {
        const QStringList parallel = runWith(threads);
        ASSERT_EQ(parallel.size(), sequential.size()) << threads << " listing threads";
        for (int i = 0; i < parallel.size(); ++i)
            ASSERT_EQ(parallel[i], sequential[i]) << threads << " listing threads, line " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, ParallelWalkTest,
    ::testing::Values(
        WalkOptionsCase{"EverythingWithSubfolders",
                        [](search::SearchOptions &o) {
                            o.filterText = "*.*";
                            o.showHiddenState = search::Ticked;
                            o.includeSubfolders = true;
                        }},
        WalkOptionsCase{"TiffOnlyHiddenLeftOut",
                        [](search::SearchOptions &o) {
                            o.filterText = "*.tif";
                            o.includeSubfolders = true;
                        }},
        WalkOptionsCase{"AtMostOneKilobyte",
                        [](search::SearchOptions &o) {
                            o.filterText = "*.*";
                            o.includeSubfolders = true;
                            o.criteria.sizeTestOn = true;
                            o.criteria.atMode = true;
                            o.criteria.leastOrMost = "Most";
                            o.criteria.sizeLimitText = "1";
                        }},
        WalkOptionsCase{"TopFolderOnly", [](search::SearchOptions &o) { o.filterText = "*.*"; }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SearchCoreTest, TheWalkTakesEachFolderOwnFilesFirstThenItsSubfoldersInListingOrder)
{
    log.gateOpen = true;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            write(QString("f%1/g%2/x%3.pdf").arg(i).arg(j).arg(i * 4 + j), "pages:1");
    write("top.pdf", "pages:1");
    QList<QByteArray> expected;
    referenceOrder(QFile::encodeName(dir.path()), expected);
    for (int threads : {0, 4}) {
        SearchCore core(textCounters(log));
        core.setListingThreads(threads);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        run(core, rec, QFile::encodeName(dir.path()));
        QList<QByteArray> got;
        for (const CountedFile &f : rec.files)
            got << f.path;
        EXPECT_EQ(got, expected) << threads << " listing threads";
        EXPECT_EQ(rec.summary->pdfPages, 21);
    }
}

// ---------------------------------------------------------------- each folder once

struct LinkCase
{
    const char *name;
    // Links to make, relative to the test folder: link -> target (a relative target is taken
    // as is, an absolute one is made inside the test folder).
    std::vector<std::pair<const char *, const char *>> links;
};

class FolderOnceTest : public SearchCoreTest, public ::testing::WithParamInterface<LinkCase>
{
};

TEST_P(FolderOnceTest, AFolderReachedAgainIsNotWalkedAgain)
{
    log.gateOpen = true;
    write("a/one.tif", "pages:3");
    write("a/deep/two.pdf", "pages:5");
    write("c/three.tif", "pages:7");
    for (const auto &[link, target] : GetParam().links) {
        const QByteArray to = target[0] == '/' ? path(QString::fromUtf8(target + 1)) : QByteArray(target);
        ASSERT_EQ(::symlink(to.constData(), path(QString::fromUtf8(link)).constData()), 0) << link;
    }
    for (int threads : {0, 4}) {
        SearchCore core(textCounters(log));
        core.setListingThreads(threads);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        run(core, rec, QFile::encodeName(dir.path()));
        QStringList names = rec.names();
        names.sort();
        EXPECT_EQ(names, (QStringList{"one.tif", "three.tif", "two.pdf"})) << threads << " listing threads";
        EXPECT_EQ(rec.summary->tiffPages, 10);
        EXPECT_EQ(rec.summary->pdfPages, 5);
        EXPECT_TRUE(rec.summary->unreadFolders.empty());
        // The first path in walk order holds the rows: the folder listed first of a and its links.
        QStringList starts = rec.log.filter(QRegularExpression("^start "));
        EXPECT_EQ(starts.removeDuplicates(), 0) << starts.join(", ").toStdString();
        const QString oneFolder = QString::fromUtf8(rec.files[size_t(rec.names().indexOf("one.tif"))].folder);
        QString firstOfA;
        for (const QString &s : starts)
            if (QFileInfo(s.mid(6)).canonicalFilePath() == QFileInfo(dir.filePath("a")).canonicalFilePath()) {
                firstOfA = s.mid(6);
                break;
            }
        EXPECT_EQ(oneFolder, firstOfA);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, FolderOnceTest,
    ::testing::Values(LinkCase{"SiblingLink", {{"b", "/a"}}},
                      LinkCase{"RelativeSiblingLinkAndLinkToLink", {{"b", "a"}, {"z", "b"}}},
                      LinkCase{"LinkBackUp", {{"a/deep/up", ".."}, {"c/top", "/"}}},
                      LinkCase{"LinksInsideEachOther", {{"a/toC", "/c"}, {"c/toA", "/a"}, {"c/toDeep", "/a/deep"}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SearchCoreTest, ABindMountOfAFolderWalkedAlreadyAddsNothing)
{
    log.gateOpen = true;
    write("a/one.tif", "pages:3");
    QDir().mkpath(dir.filePath("b"));
    if (::mount(path("a").constData(), path("b").constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "this process may not bind-mount a folder (" << std::strerror(errno) << ")";
    const std::unique_ptr<const QByteArray, void (*)(const QByteArray *)> unmount(
        new QByteArray(path("b")), [](const QByteArray *p) {
            ::umount2(p->constData(), MNT_DETACH);
            delete p;
        });
    SearchCore core(textCounters(log));
    listEverything(core);
    Recording rec;
    rec.attach(core);
    run(core, rec, root());
    EXPECT_EQ(rec.names(), QStringList{"one.tif"});
    EXPECT_EQ(rec.summary->tiffPages, 3);
}

}  // namespace

// ---------------------------------------------------------------- what could not be read

namespace {

TEST_F(SearchCoreTest, FoldersThatCannotBeReadAreReportedWithTheSystemsReason)
{
    log.gateOpen = true;
    write("a/one.tif", "pages:1");
    write("locked/inside.tif", "pages:50");
    write("c/three.tif", "pages:1");
    write("c/locked-too/x.pdf", "pages:50");
    ASSERT_EQ(::chmod(path("locked").constData(), 0), 0);
    ASSERT_EQ(::chmod(path("c/locked-too").constData(), 0300), 0);  // may enter, not list
    const int top = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    const std::string part(200, 'd');
    const std::unique_ptr<const int, void (*)(const int *)> cleanUp(&top, [](const int *t) {
        // Best effort: the temporary folder's own removal reports what is left.
        [[maybe_unused]] const int a = ::fchmodat(*t, "locked", 0755, 0);
        [[maybe_unused]] const int b = ::fchmodat(*t, "c/locked-too", 0755, 0);
        removeTree(*t, std::string(200, 'd').c_str());
        ::close(*t);
    });
    RefusedUser refused(dir.path().toStdString());
    ASSERT_TRUE(refused.ready());
    // Deeper than a path may be: opening it fails whoever asks.
    int fd = ::dup(top);
    for (int level = 0; level < 24; ++level) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    ::close(fd);
    for (int threads : {0, 4}) {
        SearchCore core(textCounters(log));
        core.setListingThreads(threads);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        run(core, rec, QFile::encodeName(dir.path()));
        QStringList names = rec.names();
        names.sort();
        EXPECT_EQ(names, (QStringList{"one.tif", "three.tif"})) << "the readable folders are all searched";
        EXPECT_EQ(rec.summary->tiffPages, 2);
        EXPECT_EQ(rec.summary->topFolderGone, 0);
        std::map<QByteArray, QString> unread;
        for (const search::UnreadFolder &u : rec.summary->unreadFolders)
            unread[u.path] = u.reason;
        EXPECT_EQ(unread.size(), 3u) << threads << " listing threads";
        EXPECT_EQ(unread[path("locked")], QString::fromLocal8Bit(std::strerror(EACCES)));
        EXPECT_EQ(unread[path("c/locked-too")], QString::fromLocal8Bit(std::strerror(EACCES)));
        // The deepest folder that still opens holds the one that does not.
        bool tooLong = false;
        for (const auto &[p, reason] : unread)
            tooLong |= p.size() > 4096 && reason == QString::fromLocal8Bit(std::strerror(ENAMETOOLONG));
        EXPECT_TRUE(tooLong);
    }
}

// The folder being searched is deleted while the search waits on a file: the search ends, says
// why, keeps what it found and walks nothing more.
TEST_F(SearchCoreTest, TheSearchedFolderDeletedMidSearchEndsTheSearch)
{
    write("first.tif", "slow:2");
    for (int i = 0; i < 30; ++i)
        write(QString("sub%1/f.pdf").arg(i), "pages:1");
    for (int threads : {0, 4}) {
        write("first.tif", "slow:2");
        for (int i = 0; i < 30; ++i)
            write(QString("sub%1/f.pdf").arg(i), "pages:1");
        log.gateOpen = false;
        SearchCore core(textCounters(log));
        core.setListingThreads(threads);
        core.setWalkAhead(1);
        listEverything(core);
        Recording rec;
        rec.attach(core);
        core.start(QFile::encodeName(dir.path()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.waiting() == 1; }, 20000));
        std::thread remover([this] { QDir(dir.path()).removeRecursively(); });
        remover.join();
        log.openGate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rec.summary.has_value(); }, 20000));
        EXPECT_FALSE(rec.summary->cancelled);
        EXPECT_EQ(rec.summary->topFolderGone, ENOENT) << threads << " listing threads";
        EXPECT_TRUE(rec.summary->unreadFolders.empty()) << "nothing below it is reported one by one";
        EXPECT_EQ(rec.summary->tiffPages, 2) << "what was counted stays";
        if (threads == 0) {
            EXPECT_EQ(rec.names(), QStringList{"first.tif"}) << "walked no further";
        }
        for (const QString &line : rec.log) {
            if (line.startsWith("start ")) {
                EXPECT_TRUE(line.mid(6).startsWith(dir.path())) << "nothing outside it: " << line.toStdString();
            }
        }
        ASSERT_TRUE(QDir().mkpath(dir.path()));
    }
}

}  // namespace
