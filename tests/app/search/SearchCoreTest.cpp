// The search core without any widget: a plain QCoreApplication, counters that read their answer
// from the file (FakeCounters.h), folders built on disk. Rows are checked as a log of signals.

#include "FakeCounters.h"
#include "SearchCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include <dirent.h>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using search::CountedFile;
using search::SearchCore;
using search::SearchSummary;

namespace {

class CoreEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "search-core-test";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);

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
