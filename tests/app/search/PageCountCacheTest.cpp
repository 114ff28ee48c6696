// The page-count cache on its own (what it answers for, what it keeps, how it fails) and inside
// a search with counters that read their answer from the file (FakeCounters.h).

#include "CoreTestEnvironment.h"
#include "FakeCounters.h"
#include "PageCountCache.h"
#include "SearchCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using search::FileStamp;
using search::PageCountCache;
using search::SearchCore;

namespace {

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kDay = 86400;

FileStamp stamp(uint64_t ino = 7, int64_t mtime = 1000 * kSecond)
{
    FileStamp s;
    s.dev = 2049;
    s.ino = ino;
    s.size = 4096;
    s.mtimeNs = mtime;
    s.ctimeNs = mtime + 5;
    return s;
}

class CacheTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QStringList warnings;
    int64_t day = 20000;

    QString file() const { return dir.filePath("cache/quirewell/page-counts.sqlite"); }
    PageCountCache::Options options()
    {
        PageCountCache::Options o;
        o.file = file();
        o.busyTimeoutMs = 200;
        o.warn = [this](const QString &line) { warnings << line; };
        o.now = [this] { return day * kDay + 3600; };
        return o;
    }
};

// ---------------------------------------------------------------- what may be kept

struct StorableCase
{
    const char *name;
    int32_t code;
    int64_t changedAgoNs;    // before the count began (negative: in the future)
    bool changedDuringCount;
    bool expected;
};

class StorableTest : public ::testing::TestWithParam<StorableCase>
{
};

TEST_P(StorableTest, OnlyDefiniteAnswersOfSettledFiles)
{
    const StorableCase &c = GetParam();
    const int64_t start = 5000 * kSecond;
    FileStamp before = stamp(7, start - c.changedAgoNs);
    FileStamp after = before;
    if (c.changedDuringCount)
        after.ctimeNs += 1;
    EXPECT_EQ(PageCountCache::storable(c.code, before, after, start), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StorableTest,
    ::testing::Values(StorableCase{"pages", 12, 60 * kSecond, false, true},
                      StorableCase{"no pages", 0, 60 * kSecond, false, true},
                      StorableCase{"wrong signature", search::kWrongSignature, 60 * kSecond, false, true},
                      StorableCase{"damaged", search::kDamaged, 60 * kSecond, false, true},
                      StorableCase{"password", search::kNeedsPassword, 60 * kSecond, false, true},
                      StorableCase{"cannot open", search::kCannotOpen, 60 * kSecond, false, false},
                      StorableCase{"gave up", search::kGaveUp, 60 * kSecond, false, false},
                      StorableCase{"counter missing", search::kCounterMissing, 60 * kSecond, false, false},
                      StorableCase{"call failed", search::kCallFailed, 60 * kSecond, false, false},
                      StorableCase{"changed during the count", 3, 60 * kSecond, true, false},
                      StorableCase{"changed just before", 3, kSecond, false, false},
                      StorableCase{"changed exactly 2 s before", 3, 2 * kSecond, false, false},
                      StorableCase{"changed just over 2 s before", 3, 2 * kSecond + 10, false, true},
                      StorableCase{"stamped in the future", 3, -3600 * kSecond, false, false}),
    [](const auto &info) {
        std::string name = info.param.name;
        for (char &ch : name)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// ---------------------------------------------------------------- what it answers for

TEST_F(CacheTest, AnswersOnlyForTheSamePathStampAndCounter)
{
    {
        PageCountCache cache(options());
        cache.store("/a/b.pdf", stamp(), "counter 1", 42);
    }
    PageCountCache cache(options());
    EXPECT_EQ(cache.lookup("/a/b.pdf", stamp(), "counter 1"), 42) << "kept across programs";
    const std::vector<std::pair<const char *, std::function<void(QByteArray &, FileStamp &, QByteArray &)>>> changes = {
        {"path", [](QByteArray &p, FileStamp &, QByteArray &) { p = "/a/c.pdf"; }},
        {"device", [](QByteArray &, FileStamp &s, QByteArray &) { ++s.dev; }},
        {"inode", [](QByteArray &, FileStamp &s, QByteArray &) { ++s.ino; }},
        {"size", [](QByteArray &, FileStamp &s, QByteArray &) { ++s.size; }},
        {"modified, by a nanosecond", [](QByteArray &, FileStamp &s, QByteArray &) { ++s.mtimeNs; }},
        {"changed, by a nanosecond", [](QByteArray &, FileStamp &s, QByteArray &) { ++s.ctimeNs; }},
        {"counter", [](QByteArray &, FileStamp &, QByteArray &c) { c = "counter 2"; }},
    };
    for (const auto &[what, change] : changes) {
        QByteArray path = "/a/b.pdf", counter = "counter 1";
        FileStamp s = stamp();
        change(path, s, counter);
        EXPECT_EQ(cache.lookup(path, s, counter), std::nullopt) << what;
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(CacheTest, FileIsPrivateAndAnsweringNeverStoresForAnEmptyCounter)
{
    PageCountCache cache(options());
    cache.store("/x.tif", stamp(), "", 3);
    cache.store("/y.tif", stamp(), "c", 4);
    cache.flush();
    EXPECT_EQ(cache.lookup("/x.tif", stamp(), ""), std::nullopt);
    EXPECT_EQ(cache.lookup("/y.tif", stamp(), "c"), 4);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(file()).absolutePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(CacheTest, EntriesNotSeenFor90DaysArePruned)
{
    {
        PageCountCache cache(options());
        cache.store("/old.pdf", stamp(1), "c", 1);
        cache.store("/used.pdf", stamp(2), "c", 2);
    }
    day += 60;
    {
        PageCountCache cache(options());
        EXPECT_EQ(cache.lookup("/used.pdf", stamp(2), "c"), 2);  // seen again today
    }
    day += 40;  // 100 days after both were stored, 40 after one was last seen
    PageCountCache cache(options());
    EXPECT_EQ(cache.lookup("/old.pdf", stamp(1), "c"), std::nullopt);
    EXPECT_EQ(cache.lookup("/used.pdf", stamp(2), "c"), 2);
}

TEST_F(CacheTest, OverTheSizeCapTheLeastRecentlySeenGo)
{
    PageCountCache::Options o = options();
    o.maxBytes = 64 * 1024;
    const QByteArray padding(200, 'p');
    {
        PageCountCache cache(o);
        for (int i = 0; i < 2000; ++i)
            cache.store("/old/" + padding + QByteArray::number(i), stamp(uint64_t(i)), "c", i);
    }
    day += 1;
    {
        PageCountCache cache(o);
        for (int i = 0; i < 10; ++i)
            cache.store("/new/" + QByteArray::number(i), stamp(uint64_t(i)), "c", i);
    }
    day += 1;
    PageCountCache cache(o);
    int oldKept = 0;
    for (int i = 0; i < 2000; ++i)
        oldKept += cache.lookup("/old/" + padding + QByteArray::number(i), stamp(uint64_t(i)), "c").has_value();
    EXPECT_LT(oldKept, 2000 / 2);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(cache.lookup("/new/" + QByteArray::number(i), stamp(uint64_t(i)), "c"), i);
}

// ---------------------------------------------------------------- how it fails

TEST_F(CacheTest, DamagedFileIsSetAsideWithOneMessageAndStartedAnew)
{
    QDir().mkpath(QFileInfo(file()).absolutePath());
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    {
        PageCountCache cache(options());
        EXPECT_EQ(cache.lookup("/a.pdf", stamp(), "c"), std::nullopt);
        cache.store("/a.pdf", stamp(), "c", 9);
        cache.flush();
        EXPECT_EQ(cache.lookup("/a.pdf", stamp(), "c"), 9);
    }
    ASSERT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings[0].contains("damaged")) << warnings[0].toStdString();
    EXPECT_TRUE(QFile::exists(file() + ".damaged"));
    EXPECT_EQ(QFileInfo(file() + ".damaged").size(), 8192);
}

TEST_F(CacheTest, LockedByAnotherProgramMeansOneMessageAndNoAnswersLost)
{
    {
        PageCountCache cache(options());
        cache.store("/kept.pdf", stamp(), "c", 5);
    }
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    {
        PageCountCache cache(options());
        for (int i = 0; i < 3; ++i) {
            cache.store("/new" + QByteArray::number(i), stamp(), "c", i);
            cache.flush();
        }
        cache.beginSearch();  // tried again at the next search, and refused again
        cache.store("/again.pdf", stamp(), "c", 1);
        cache.flush();
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_EQ(warnings.size(), 2) << "one line per search: " << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings[0].contains("locked")) << warnings[0].toStdString();
    PageCountCache cache(options());
    EXPECT_EQ(cache.lookup("/kept.pdf", stamp(), "c"), 5) << "what was there before stays";
}

TEST_F(CacheTest, ReadOnlyOrUnreachableCacheMeansOneMessage)
{
    {
        PageCountCache cache(options());
        cache.store("/kept.pdf", stamp(), "c", 5);
    }
    // The file and its folder readable by everyone and writable by nobody; a child process
    // that, under root, becomes a user without rights uses it.
    const QByteArray folder = QFile::encodeName(QFileInfo(file()).absolutePath());
    ::chmod(QFile::encodeName(file()).constData(), 0444);
    ::chmod(folder.constData(), 0555);
    for (const QString &path : {dir.path(), dir.filePath("cache")})
        ::chmod(QFile::encodeName(path).constData(), 0755);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        int lines = 0;
        PageCountCache::Options o = options();
        o.warn = [&lines](const QString &) { ++lines; };
        PageCountCache cache(o);
        const bool answered = cache.lookup("/kept.pdf", stamp(), "c").has_value();
        cache.store("/new.pdf", stamp(), "c", 1);
        cache.flush();
        const bool answeredAgain = cache.lookup("/new.pdf", stamp(), "c").has_value();
        ::_exit(lines == 1 && !answered && !answeredAgain ? 0 : 20 + lines);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(folder.constData(), 0700);
    ::chmod(QFile::encodeName(file()).constData(), 0600);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "20 + the lines written";
}

TEST_F(CacheTest, FolderThatCannotBeMadeMeansOneMessage)
{
    QFile blocker(dir.filePath("cache"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    PageCountCache cache(options());
    EXPECT_EQ(cache.lookup("/a.pdf", stamp(), "c"), std::nullopt);
    cache.store("/a.pdf", stamp(), "c", 1);
    cache.flush();
    EXPECT_EQ(cache.lookup("/a.pdf", stamp(), "c"), std::nullopt);
    EXPECT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
}

TEST_F(CacheTest, TwoProgramsWritingAtOnceLoseNothing)
{
    {
        PageCountCache cache(options());  // the file exists before either starts
        cache.store("/seed", stamp(), "c", 0);
    }
    constexpr int kEach = 3000;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            PageCountCache::Options o = options();
            o.busyTimeoutMs = 30000;
            int lines = 0;
            o.warn = [&lines](const QString &) { ++lines; };
            {
                PageCountCache cache(o);
                for (int i = 0; i < kEach; ++i) {
                    cache.store("/p" + QByteArray::number(p) + "/" + QByteArray::number(i), stamp(uint64_t(i)), "c", i);
                    if (i % 100 == 99)
                        cache.flush();
                }
            }
            ::_exit(lines == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    PageCountCache cache(options());
    int found = 0;
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kEach; ++i)
            found += cache.lookup("/p" + QByteArray::number(p) + "/" + QByteArray::number(i), stamp(uint64_t(i)), "c") == i;
    EXPECT_EQ(found, 2 * kEach);
}

// Lookups read from one snapshot at a time: it must not hold up another program's writes, and
// once the searching pauses, what the other program wrote is seen.
TEST_F(CacheTest, AReadingProgramNeitherBlocksAWriterNorMissesItsAnswersAfterAPause)
{
    {
        PageCountCache seed(options());
        seed.store("/seed", stamp(), "c", 1);
    }
    PageCountCache reader(options());
    ASSERT_EQ(reader.lookup("/seed", stamp(), "c"), 1);
    EXPECT_EQ(reader.lookup("/late", stamp(8), "c"), std::nullopt);
    {
        PageCountCache writer(options());
        writer.store("/late", stamp(8), "c", 9);
        writer.flush();
    }
    EXPECT_TRUE(warnings.isEmpty()) << "the reader's snapshot held up the writer: " << warnings.join('\n').toStdString();
    EXPECT_TRUE(reader.hasIdleWork()) << "a snapshot is held";
    reader.idle();
    EXPECT_FALSE(reader.hasIdleWork());
    EXPECT_EQ(reader.lookup("/late", stamp(8), "c"), 9);
    // Its own answers go in while it reads, without waiting for a pause.
    reader.store("/own", stamp(10), "c", 4);
    reader.flush();
    EXPECT_EQ(reader.lookup("/own", stamp(10), "c"), 4);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

// ---------------------------------------------------------------- inside a search

class CachedSearchTest : public CacheTest
{
protected:
    CounterLog log;
    std::shared_ptr<PageCountCache> cache;

    void SetUp() override
    {
        log.identity = "text counter 1";
        cache = std::make_shared<PageCountCache>(options());
    }
    QByteArray path(const QString &relative) const { return QFile::encodeName(dir.filePath("tree/" + relative)); }
    void write(const QString &relative, const QByteArray &content)
    {
        const QString p = dir.filePath("tree/" + relative);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void setTimes(const QString &relative, int64_t modifiedNs)
    {
        const struct timespec times[2] = {{time_t(modifiedNs / kSecond), long(modifiedNs % kSecond)},
                                          {time_t(modifiedNs / kSecond), long(modifiedNs % kSecond)}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path(relative).constData(), times, 0), 0);
    }
    // Until every file of the tree changed more than 2 s ago: only then may its count be kept.
    void waitUntilSettled()
    {
        int64_t newest = 0;
        QDirIterator it(dir.filePath("tree"), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            if (const auto s = search::stampOf(QFile::encodeName(it.next())))
                newest = std::max({newest, s->ctimeNs, s->mtimeNs});
        ASSERT_TRUE(QTest::qWaitFor([&] { return search::wallClockNs() > newest + 2 * kSecond + kSecond / 10; }, 10000));
    }
    // The rows of a whole search, as text, and how many files reached a counter.
    std::pair<QStringList, size_t> search(int lanes, bool cached)
    {
        {
            std::lock_guard lock(log.mutex);
            log.calls.clear();
        }
        SearchCore core(textCounters(log));
        core.setLanes(lanes);
        if (cached)
            core.setPageCountCache(cache);
        search::SearchOptions o = core.options().get();
        o.filterText = "*.*";
        o.includeSubfolders = true;
        core.options().set(o);
        QStringList rows;
        bool done = false;
        QObject::connect(&core, &SearchCore::fileCounted, &core, [&rows](const search::CountedFile &f) {
            rows << QStringLiteral("%1 %2").arg(QString::fromUtf8(f.path)).arg(f.type == search::FileType::Other ? 0 : f.pages);
        });
        QObject::connect(&core, &SearchCore::finished, &core, [&](const search::SearchSummary &s) {
            rows << QStringLiteral("tiff=%1 pdf=%2 files=%3 failed=%4").arg(s.tiffPages).arg(s.pdfPages).arg(s.files).arg(s.failed);
            done = true;
        });
        core.start(QFile::encodeName(dir.filePath("tree")));
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 20000));
        std::lock_guard lock(log.mutex);
        return {rows, log.calls.size()};
    }
};

TEST_F(CachedSearchTest, FileRewrittenWithTheSameSizeAndItsTimePutBackIsCountedAgain)
{
    write("a.tif", "pages:3");
    write("b.pdf", "pages:8");
    const int64_t hourAgo = search::wallClockNs() - 3600 * kSecond;
    setTimes("a.tif", hourAgo);
    waitUntilSettled();
    const auto first = search(1, true);
    EXPECT_EQ(first.second, 2u);
    const auto second = search(1, true);
    EXPECT_EQ(second.second, 0u) << "nothing changed: nothing counted";
    EXPECT_EQ(first.first, second.first);

    write("a.tif", "pages:4");  // same size
    setTimes("a.tif", hourAgo);
    waitUntilSettled();
    const auto third = search(1, true);
    EXPECT_EQ(third.second, 1u) << "the change time tells";
    EXPECT_TRUE(third.first.contains(QString::fromUtf8(path("a.tif")) + " 4")) << third.first.join('\n').toStdString();
    EXPECT_EQ(search(1, true).second, 0u);
}

TEST_F(CachedSearchTest, FileChangedInsideTheRacyWindowIsCountedAgainNextTime)
{
    write("settled.pdf", "pages:2");
    write("busy.pdf", "pages:5");
    waitUntilSettled();
    // As a file still being written, by a machine whose clock runs ahead.
    setTimes("busy.pdf", search::wallClockNs() + 3600 * kSecond);
    EXPECT_EQ(search(2, true).second, 2u);
    EXPECT_EQ(search(2, true).second, 1u) << "only the settled file was kept";
    EXPECT_EQ(search(2, true).second, 1u);
}

TEST_F(CachedSearchTest, ChangedCounterLibraryInvalidatesItsAnswers)
{
    write("a.pdf", "pages:2");
    write("b.tif", "pages:6");
    waitUntilSettled();
    EXPECT_EQ(search(1, true).second, 2u);
    EXPECT_EQ(search(1, true).second, 0u);
    {
        std::lock_guard lock(log.mutex);
        log.identity = "text counter 2";
    }
    EXPECT_EQ(search(1, true).second, 2u);
    EXPECT_EQ(search(1, true).second, 0u);
}

TEST_F(CachedSearchTest, DamagedOrLockedCacheGivesTheSameRowsAndOneMessage)
{
    for (int i = 0; i < 30; ++i)
        write(QString("f%1.%2").arg(i).arg(i % 2 ? "pdf" : "tif"), "pages:" + QByteArray::number(i));
    waitUntilSettled();
    const QStringList plain = search(3, false).first;

    cache.reset();
    QDir().mkpath(QFileInfo(file()).absolutePath());
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x7f'));
    }
    cache = std::make_shared<PageCountCache>(options());
    EXPECT_EQ(search(3, true).first, plain);
    EXPECT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    cache.reset();  // writes what it kept

    warnings.clear();
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM counts;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    cache = std::make_shared<PageCountCache>(options());
    for (const QString &f : {QString("f1.pdf"), QString("f2.tif")})
        write(f, "pages:77");  // counted afresh, and the cache cannot take them
    QStringList expected = plain;
    expected.replaceInStrings(QRegularExpression("/f1\\.pdf 1$"), "/f1.pdf 77");
    expected.replaceInStrings(QRegularExpression("/f2\\.tif 2$"), "/f2.tif 77");
    expected.replaceInStrings(QRegularExpression("^tiff=.*"), "");
    QStringList rows = search(3, true).first;
    rows.replaceInStrings(QRegularExpression("^tiff=.*"), "");
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

// Rows and totals do not depend on the lanes or on the cache, on a tree that reaches a folder
// twice, links back up and holds a folder that may not be read.
TEST_F(CachedSearchTest, SameRowsForAnyLanesWithAndWithoutTheCache)
{
    for (int i = 0; i < 40; ++i)
        write(QString("d%1/f%2.%3").arg(i % 4).arg(i).arg(i % 3 == 0 ? "tif" : i % 3 == 1 ? "pdf" : "txt"),
              i % 11 == 5 ? "fail" : i % 7 == 3 ? "not a count" : "pages:" + QByteArray::number(i));
    write("locked/inside.pdf", "pages:100");
    ASSERT_EQ(::symlink("d1", path("again").constData()), 0);        // a folder reached twice
    ASSERT_EQ(::symlink("..", path("d2/up").constData()), 0);        // a link back up
    ASSERT_EQ(::chmod(path("locked").constData(), 0), 0);
    waitUntilSettled();
    const auto reference = search(1, false);
    ASSERT_GE(reference.first.size(), 41);
    for (const bool cached : {false, true}) {
        for (const int lanes : {1, 4, 0}) {
            cache = std::make_shared<PageCountCache>(options());
            const auto cold = search(lanes, cached);
            EXPECT_EQ(cold.first, reference.first) << lanes << " lanes, cache " << cached;
            const auto warm = search(lanes, cached);
            EXPECT_EQ(warm.first, reference.first) << lanes << " lanes, cache " << cached << ", again";
            if (cached) {
                EXPECT_EQ(warm.second, 2u) << "only the two failing calls were made again";
            }
            cache.reset();
            QFile::remove(file());
            QFile::remove(file() + "-wal");
            QFile::remove(file() + "-shm");
        }
    }
    ::chmod(path("locked").constData(), 0700);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

// Answers are written in batches; a search stopped midway still leaves every count it showed
// in the file, written by the lanes once the search is over (the core still alive, the program
// not ending).
TEST_F(CachedSearchTest, CountsShownBeforeACancelReachTheFileOnceTheSearchIsOver)
{
    constexpr int kFiles = 400;
    for (int i = 0; i < kFiles; ++i)
        write(QString("d%1/f%2.%3").arg(i % 8).arg(i).arg(i % 2 ? "pdf" : "tif"), "pages:" + QByteArray::number(i % 50));
    waitUntilSettled();
    SearchCore core(textCounters(log));
    core.setLanes(3);
    core.setPageCountCache(cache);
    search::SearchOptions o = core.options().get();
    o.filterText = "*.*";
    o.includeSubfolders = true;
    core.options().set(o);
    std::vector<search::CountedFile> shown;
    bool done = false, cancelled = false;
    QObject::connect(&core, &SearchCore::fileCounted, &core, [&](const search::CountedFile &f) {
        shown.push_back(f);
        if (shown.size() == kFiles / 2)
            core.cancel();
    });
    QObject::connect(&core, &SearchCore::finished, &core, [&](const search::SearchSummary &s) {
        cancelled = s.cancelled;
        done = true;
    });
    core.start(QFile::encodeName(dir.filePath("tree")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20000));
    ASSERT_TRUE(cancelled);
    ASSERT_EQ(shown.size(), size_t(kFiles / 2));

    // Another program's view of the file, renewed until it holds every count shown.
    const auto missing = [&] {
        PageCountCache other(options());
        size_t absent = 0;
        for (const search::CountedFile &f : shown)
            absent += other.lookup(f.path, *search::stampOf(f.path), log.identity) != f.pages;
        return absent;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return missing() == 0; }, 10000)) << missing() << " counts not written";
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

}  // namespace
