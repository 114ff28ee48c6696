// The search end to end against its limits, in one run, as ratios:
//   - the real main window (offscreen, shown) searching with 1 counting lane and with N lanes,
//     page counters created by class identifier (the PDF ones count in their helper process);
//   - the bare in-process counting of the same files (the same walk, the two counting functions
//     called directly, one thread, no window);
//   - the read limit: walk + open + read 8 bytes of every file.
// CPU time includes the PDF helper processes (they live across searches, so the kernel's
// accounting of reaped children alone would leave them out). The measurements take turns, round
// after round, and each reports its median: a machine whose load changes during the run then
// weighs on all of them alike.
// With --cache [files] [rounds] [folder]: the window's first and second search of a tree of 100,000
// files with the page-count cache, against one without it and the floor.
// Then, for a folder holding a PDF that takes seconds to count and a TIFF with many directories:
// the longest gap between two turns of the window thread's event loop, and the time from
// pressing Search to the first row.

#include "TestDocuments.h"

#include "AppSettings.h"
#include "FolderListing.h"
#include "SearchCommand.h"
#include "FolderTree.h"
#include "PdfFixtures.h"
#include "PdfPageCount.h"
#include "ResultGrid.h"
#include "SearchCore.h"
#include "SearchCriteriaPanel.h"
#include "TiffPageCount.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 5000;

// kFiles files in 50 folders nested up to three deep: about a quarter TIFF, a quarter PDF, the
// rest other documents the filter passes over.
class Corpus
{
public:
    Corpus()
    {
        for (int f = 0; f < 50; ++f) {
            const QString folder = QStringLiteral("f%1/g%2/h%3").arg(f % 5).arg(f % 10).arg(f);
            QDir().mkpath(m_dir.filePath(folder));
            for (int i = 0; i < kFiles / 50; ++i) {
                const QByteArray base = QFile::encodeName(m_dir.filePath(folder)) + "/doc" + QByteArray::number(i);
                switch (i % 4) {
                case 0: testdocs::writeTiff(base + ".tif", 1 + i % 7); break;
                case 1: testdocs::writePdf(base + ".pdf", 1 + i % 9); break;
                case 2: testdocs::writeBytes(base + ".txt", "notes"); break;
                default: testdocs::writeBytes(base + ".jpg", QByteArray(2048, 'j')); break;
                }
            }
        }
    }
    QString root() const { return m_dir.path() + QLatin1Char('/'); }

private:
    QTemporaryDir m_dir;
};

Corpus &corpus()
{
    static Corpus c;
    return c;
}

// A PDF that takes seconds to count, a TIFF with very many directories, and a few small files.
class SlowCorpus
{
public:
    SlowCorpus()
    {
        const QByteArray base = QFile::encodeName(m_dir.path());
        testdocs::writeBytes(base + "/heavy.pdf", QByteArray::fromStdString(pdffix::qpdfDocument(kHeavyPdfPages)));
        testdocs::writeTiff(base + "/many.tif", kManyTiffPages);
        for (int i = 0; i < 20; ++i) {
            testdocs::writeTiff(base + "/small" + QByteArray::number(i) + ".tif", 2);
            testdocs::writePdf(base + "/small" + QByteArray::number(i) + ".pdf", 3);
        }
    }
    QString root() const { return m_dir.path() + QLatin1Char('/'); }
    static constexpr int kHeavyPdfPages = 150000;
    static constexpr int kManyTiffPages = 100000;

private:
    QTemporaryDir m_dir;
};

// CPU seconds of this process, its reaped children and its live children (the PDF helpers).
double cpuWithHelpers()
{
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    rusage self {}, reaped {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &reaped);
    double total = seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(reaped.ru_utime) + seconds(reaped.ru_stime);
    const pid_t me = ::getpid();
    const double tick = double(::sysconf(_SC_CLK_TCK));
    DIR *proc = ::opendir("/proc");
    while (const dirent *e = proc ? ::readdir(proc) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(e->d_name)));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // Fields after the command name (which may hold blanks): state ppid ... utime(14) stime(15).
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 13 && fields[1].toInt() == me)
            total += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    if (proc)
        ::closedir(proc);
    return total;
}

struct Measure
{
    std::vector<double> wall, cpu;  // seconds, one per round
    int64_t tiff = 0, pdf = 0;
};
std::map<std::string, Measure> g_results;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One measured pass of a body: wall and CPU (helpers included).
struct Timed
{
    std::string name;
    std::function<void(Measure &)> body;

    void runOnce() const
    {
        Measure &m = g_results[name];
        QElapsedTimer wall;
        const double cpu0 = cpuWithHelpers();
        wall.start();
        body(m);
        m.wall.push_back(double(wall.nsecsElapsed()) / 1e9);
        m.cpu.push_back(cpuWithHelpers() - cpu0);
    }
};

// Sleeps until the window thread has something to do, as the program's own event loop does.
// (processEvents with a time limit drops WaitForMoreEvents and would spin this thread, taking a
// processor from the lanes and helpers being measured.)
void waitForEvents()
{
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// A shown main window with the given number of lanes whose first search (of an empty folder)
// is over.
// The two counting functions called in the lane itself: the window and its lanes without the
// PDF helper's round trip.
class DirectCounter final : public search::PageCounter
{
public:
    explicit DirectCounter(search::CounterKind kind) : m_kind(kind) {}
    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        return m_kind == search::CounterKind::Tiff ? tallyfold::CountTiffPages(path.constData())
                                                   : pdfcount::countFile(path.constData());
    }

private:
    search::CounterKind m_kind;
};

class DirectCounters final : public search::PageCounterFactory
{
public:
    std::unique_ptr<search::PageCounter> create(search::CounterKind kind) override
    {
        return std::make_unique<DirectCounter>(kind);
    }
};

// cache: the page-count cache on (at $XDG_CACHE_HOME as it is when the window is made); off,
// every search counts every file.
std::unique_ptr<frmMain> makeWindow(int lanes, const QString &emptyFolder, search::SearchCore::FactoryMaker counters = {},
                                    bool cache = false)
{
    modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
    modGlobal::AppSettings.StartupFolder = emptyFolder;
    modGlobal::AppSettings.CountingLanes = lanes;
    modGlobal::AppSettings.PageCountCache = cache;
    auto window = std::make_unique<frmMain>(nullptr, std::move(counters));
    window->criteriaPanel->includeSubfolderBox()->setChecked(true);
    // The first activation searches the start-up folder: wait until that search is over, or it
    // would cancel the one the caller starts next.
    bool firstSearchOver = false;
    QObject listening;  // ends the connection with this function: the flag lives on its stack
    QObject::connect(window.get(), &frmMain::searchFinished, &listening, [&firstSearchOver] { firstSearchOver = true; });
    window->show();
    while (!firstSearchOver)
        waitForEvents();
    return window;
}

void searchAndWait(frmMain &window, const QString &folder)
{
    emit window.ftv->folderItemSelected(folder);  // CurrentFolder, as a pick in the tree sets it
    window.cmdSearch_Click();
    while (window.folderSearch().isRunning())
        waitForEvents();
}

QTemporaryDir &emptyFolder()
{
    static QTemporaryDir dir;
    return dir;
}

int automaticLanes()
{
    return std::clamp(QThread::idealThreadCount(), 1, 8);
}

// A window searching the corpus with the given lanes (0 = automatic); direct: the counting
// functions in the lanes, no components. The window is kept for all rounds.
Timed windowSearch(int lanes, bool direct, std::vector<std::unique_ptr<frmMain>> &windows)
{
    search::SearchCore::FactoryMaker counters;
    if (direct)
        counters = [] { return std::make_unique<DirectCounters>(); };
    windows.push_back(makeWindow(lanes, emptyFolder().path(), counters));
    frmMain *window = windows.back().get();
    const QString root = corpus().root();
    searchAndWait(*window, root);  // warm: counters created, helpers started
    return {(direct ? "direct/" : "window/") + std::to_string(lanes), [window, root](Measure &m) {
                searchAndWait(*window, root);
                m.tiff = window->folderSearch().tiffPageTotal();
                m.pdf = window->folderSearch().pdfPageTotal();
            }};
}

// The walk the core makes (same listing and order), counting on this thread.
template<typename PerFile>
void walk(const QByteArray &folder, PerFile perFile)
{
    std::vector<search::FolderEntry> entries;
    if (!search::listFolder(folder, entries))
        return;
    for (const search::FolderEntry &e : entries)
        if (e.kind == search::EntryKind::File)
            perFile(search::joinPath(folder, e.name), e.name);
    for (const search::FolderEntry &e : entries)
        if (e.kind == search::EntryKind::Folder)
            walk(search::joinPath(search::withoutTrailingSeparator(folder), e.name), perFile);
}

Timed bareCounting()
{
    return {"bare", [root = QFile::encodeName(corpus().root())](Measure &m) {
                m.tiff = m.pdf = 0;
                walk(root, [&](const QByteArray &path, const QByteArray &name) {
                    search::readFacts(path);
                    switch (search::fileTypeOf(name)) {
                    case search::FileType::Tiff: m.tiff += std::max(0, tallyfold::CountTiffPages(path.constData())); break;
                    case search::FileType::Pdf: m.pdf += std::max(0, pdfcount::countFile(path.constData())); break;
                    case search::FileType::Other: break;
                    }
                });
            }};
}

Timed readLimit()
{
    return {"readlimit", [root = QFile::encodeName(corpus().root())](Measure &) {
                walk(root, [](const QByteArray &path, const QByteArray &) {
                    const int fd = ::open(path.constData(), O_RDONLY);
                    char head[8];
                    if (fd >= 0) {
                        [[maybe_unused]] const ssize_t n = ::read(fd, head, sizeof head);
                        ::close(fd);
                    }
                });
            }};
}

// A timer that fires at every chance the window thread's loop gets: the longest gap between two
// firings is the longest the window could not answer.
class GapMeter
{
public:
    explicit GapMeter(QObject *context)
    {
        m_turns.setTimerType(Qt::PreciseTimer);
        m_turns.setInterval(1);
        QObject::connect(&m_turns, &QTimer::timeout, context, [this] {
            const qint64 now = clock.nsecsElapsed();
            longestMs = std::max(longestMs, double(now - m_last) / 1e6);
            m_last = now;
        });
        clock.start();
        m_turns.start();
    }
    QElapsedTimer clock;
    double longestMs = 0;

private:
    QTimer m_turns;
    qint64 m_last = 0;
};

// The window thread's responsiveness while it searches the slow folder.
struct Responsiveness
{
    double longestGapMs = 0;
    double firstRowMs = -1;
    double totalMs = 0;
};

// One folder holding kHugeFolderFiles files.
class HugeFolder
{
public:
    HugeFolder()
    {
        const QByteArray base = QFile::encodeName(m_dir.path());
        for (int i = 0; i < kHugeFolderFiles; ++i)
            testdocs::writeBytes(base + "/n" + QByteArray::number(i) + (i % 2 ? ".tif" : ".pdf"), "x");
    }
    QString root() const { return m_dir.path() + QLatin1Char('/'); }
    static constexpr int kHugeFolderFiles = 100000;

private:
    QTemporaryDir m_dir;
};

Responsiveness measureResponsiveness(int lanes, const QString &folder)
{
    const auto window = makeWindow(lanes, emptyFolder().path());
    emit window->ftv->folderItemSelected(folder);
    Responsiveness r;
    GapMeter gaps(window.get());
    // The window appends the row in its own handler of the same signal.
    QObject::connect(&window->folderSearch().core(), &search::SearchCore::fileCounted, window.get(), [&] {
        if (r.firstRowMs < 0)
            r.firstRowMs = double(gaps.clock.nsecsElapsed()) / 1e6;
    });
    const qint64 start = gaps.clock.nsecsElapsed();
    window->cmdSearch_Click();
    while (window->folderSearch().isRunning())
        waitForEvents();
    r.totalMs = double(gaps.clock.nsecsElapsed() - start) / 1e6;
    r.firstRowMs -= double(start) / 1e6;
    r.longestGapMs = gaps.longestMs;
    return r;
}

// The same gap measure over an idle window for a while: what the machine alone costs (other
// processes, the scheduler) without any search.
double idleLongestGapMs(int ms)
{
    const auto window = makeWindow(1, emptyFolder().path());
    GapMeter gaps(window.get());
    while (gaps.clock.elapsed() < ms)
        waitForEvents();
    return gaps.longestMs;
}

void ratio(const char *what, const std::string &a, const std::string &b)
{
    const Measure &x = g_results[a];
    const Measure &y = g_results[b];
    if (x.wall.empty() || y.wall.empty() || median(y.wall) <= 0 || median(y.cpu) <= 0)
        return;
    std::printf("  %-44s real %6.2f   CPU (helpers included) %6.2f\n", what, median(x.wall) / median(y.wall),
                median(x.cpu) / median(y.cpu));
}

// ---------------------------------------------------------------- the page-count cache

long rssKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

// A tree of files files, 100 to a folder, mixed as the corpus above.
void makeTree(const QString &root, int files)
{
    for (int made = 0, f = 0; made < files; ++f) {
        const QString folder = QStringLiteral("%1/f%2/g%3").arg(root).arg(f % 10).arg(f);
        QDir().mkpath(folder);
        for (int i = 0; i < 100 && made < files; ++i, ++made) {
            const QByteArray base = QFile::encodeName(folder) + "/doc" + QByteArray::number(i);
            switch (i % 4) {
            case 0: testdocs::writeTiff(base + ".tif", 1 + i % 7); break;
            case 1: testdocs::writePdf(base + ".pdf", 1 + i % 9); break;
            case 2: testdocs::writeBytes(base + ".txt", "notes"); break;
            default: testdocs::writeBytes(base + ".jpg", QByteArray(2048, 'j')); break;
            }
        }
    }
}

// The window's first search of a tree without the cache and with a new one, its second search
// with the cache, and the floor (walk + open + read 8 bytes), in turns.
int cacheBench(int files, int rounds, const QString &kept)
{
    QTemporaryDir dir;
    const QString tree = kept.isEmpty() ? dir.filePath("tree") : kept;
    if (!QFileInfo::exists(tree)) {
        std::printf("making %d files in %s ...\n", files, qPrintable(tree));
        std::fflush(stdout);
        makeTree(tree, files);
    }
    // Counts are kept only for files that settled 2 s before their count.
    QThread::msleep(2500);
    const QByteArray root = QFile::encodeName(tree);
    const QString treeFolder = tree + QLatin1Char('/');

    const auto plain = makeWindow(0, emptyFolder().path());
    searchAndWait(*plain, treeFolder);  // the page cache warm for all that follow
    std::vector<double> floor, none, fresh, first, second;
    long rssFirst = 0, rssSecond = 0;
    QString totals[3];
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer t;
        t.start();
        walk(root, [](const QByteArray &path, const QByteArray &) {
            const int fd = ::open(path.constData(), O_RDONLY);
            char head[8];
            if (fd >= 0) {
                [[maybe_unused]] const ssize_t n = ::read(fd, head, sizeof head);
                ::close(fd);
            }
        });
        floor.push_back(double(t.nsecsElapsed()) / 1e9);
        t.restart();
        searchAndWait(*plain, treeFolder);
        none.push_back(double(t.nsecsElapsed()) / 1e9);
        totals[0] = QStringLiteral("%1 %2").arg(plain->folderSearch().tiffPageTotal()).arg(plain->folderSearch().pdfPageTotal());

        // The window with the cache is new, its lanes and PDF helpers started afresh: a new window
        // without it is the like-for-like first search.
        {
            auto uncached = makeWindow(0, emptyFolder().path());
            t.restart();
            searchAndWait(*uncached, treeFolder);
            fresh.push_back(double(t.nsecsElapsed()) / 1e9);
        }

        const QString cacheHome = dir.filePath(QStringLiteral("cache%1").arg(round));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
        auto cached = makeWindow(0, emptyFolder().path(), {}, true);
        t.restart();
        searchAndWait(*cached, treeFolder);
        first.push_back(double(t.nsecsElapsed()) / 1e9);
        totals[1] = QStringLiteral("%1 %2").arg(cached->folderSearch().tiffPageTotal()).arg(cached->folderSearch().pdfPageTotal());
        rssFirst = std::max(rssFirst, rssKb("VmRSS:"));
        t.restart();
        searchAndWait(*cached, treeFolder);
        second.push_back(double(t.nsecsElapsed()) / 1e9);
        totals[2] = QStringLiteral("%1 %2").arg(cached->folderSearch().tiffPageTotal()).arg(cached->folderSearch().pdfPageTotal());
        rssSecond = std::max(rssSecond, rssKb("VmRSS:"));
        cached.reset();
        QDir(cacheHome).removeRecursively();
        std::printf("  round %d: floor %.3f s, no cache %.3f s, no cache in a new window %.3f s, first %.3f s, second %.3f s\n",
                    round + 1, floor.back(), none.back(), fresh.back(), first.back(), second.back());
        std::fflush(stdout);
    }
    const double f = median(floor), n = median(none), nn = median(fresh), a = median(first), b = median(second);
    std::printf("\nwindow, %d files, automatic lanes, medians of %d rounds taken in turns\n", files, rounds);
    std::printf("walk + open + read 8 bytes      %8.3f s\n", f);
    std::printf("search without the cache        %8.3f s  %6.1f x floor\n", n, n / f);
    std::printf("the same in a new window        %8.3f s  %6.1f x floor\n", nn, nn / f);
    std::printf("first search with the cache     %8.3f s  %6.2f x without (target <= 1.1), %.2f x without in a new window\n",
                a, a / n, a / nn);
    std::printf("second search with the cache    %8.3f s  %6.2f x floor (target <= 4)\n", b, b / f);
    std::printf("process memory after the first search %ld KB, after the second %ld KB (peak %ld KB)\n", rssFirst,
                rssSecond, rssKb("VmHWM:"));
    std::printf("totals (TIFF PDF): without %s, first %s, second %s\n", qPrintable(totals[0]), qPrintable(totals[1]),
                qPrintable(totals[2]));
    return 0;
}

// The window after a search of 1,000,000 zero-byte .tif files in 1,000 folders (made under the
// temporary folder and deleted again): the peak resident set of the whole process, and the time.
// existing: a tree made by an earlier run, searched as it is and kept.
int millionFiles(const QString &existing)
{
    constexpr int kFolders = 1000, kPerFolder = 1000;
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qw-million-XXXXXX"));
    dir.setAutoRemove(existing.isEmpty());
    const QString top = existing.isEmpty() ? dir.path() : existing;
    const QByteArray root = QFile::encodeName(top);
    QElapsedTimer made;
    made.start();
    for (int f = 0; f < kFolders && existing.isEmpty(); ++f) {
        const QByteArray folder = root + "/batch" + QByteArray::number(f);
        ::mkdir(folder.constData(), 0700);
        for (int i = 0; i < kPerFolder; ++i) {
            const QByteArray path = folder + "/scan" + QByteArray::number(i) + ".tif";
            const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0) {
                std::perror(path.constData());
                return 1;
            }
            ::close(fd);
        }
    }
    if (existing.isEmpty())
        std::printf("made %d files in %.1f s\n", kFolders * kPerFolder, double(made.elapsed()) / 1e3);
    std::fflush(stdout);
    auto window = makeWindow(0, emptyFolder().path());
    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer wall;
    wall.start();
    searchAndWait(*window, top + QLatin1Char('/'));
    const double seconds = double(wall.elapsed()) / 1e3;
    QApplication::processEvents();
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
    std::printf("window with %d rows: search %.1f s, peak resident set %.1f MB (%.1f MB before the search)\n",
                window->vsFiles->rows() - 1, seconds, double(after.ru_maxrss) / 1024, double(before.ru_maxrss) / 1024);
    std::fflush(stdout);
    window.reset();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QString why;
    if (!testdocs::useBuildRegistry(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    if (argc > 1 && QByteArray(argv[1]) == "--cache")
        return cacheBench(argc > 2 ? std::max(4, std::atoi(argv[2])) : 100000, argc > 3 ? std::max(1, std::atoi(argv[3])) : 3,
                          argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString());
    if (argc > 1 && std::strcmp(argv[1], "million") == 0)
        return millionFiles(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    corpus();  // build the documents before timing anything
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<std::unique_ptr<frmMain>> windows;
    const std::vector<Timed> measured{readLimit(),
                                      bareCounting(),
                                      windowSearch(1, false, windows),
                                      windowSearch(0, false, windows),
                                      windowSearch(1, true, windows),
                                      windowSearch(0, true, windows)};
    for (int round = 0; round < rounds; ++round)
        for (const Timed &t : measured)
            t.runOnce();
    std::printf("Median of %d rounds taken in turns (%d files: TIFF pages %lld, PDF pages %lld):\n", rounds, kFiles,
                (long long)g_results["bare"].tiff, (long long)g_results["bare"].pdf);
    for (const Timed &t : measured) {
        const Measure &m = g_results[t.name];
        std::printf("  %-12s real %8.1f ms   CPU (helpers included) %8.1f ms\n", t.name.c_str(), median(m.wall) * 1e3,
                    median(m.cpu) * 1e3);
    }
    windows.clear();

    const std::string lanesN = "window/0";
    std::printf("\nRatios (%d processors, automatic lanes = %d; per search of %d files):\n", QThread::idealThreadCount(),
                automaticLanes(), kFiles);
    ratio("window, 1 lane / bare in-process counting", "window/1", "bare");
    ratio("window, N lanes / bare in-process counting", lanesN, "bare");
    ratio("window, N lanes / window, 1 lane", lanesN, "window/1");
    ratio("window without helper, 1 lane / bare", "direct/1", "bare");
    ratio("window without helper, N lanes / bare", "direct/0", "bare");
    ratio("bare in-process counting / read limit", "bare", "readlimit");
    ratio("window, N lanes / read limit", lanesN, "readlimit");
    for (const auto &[name, m] : g_results)
        if (name != "readlimit" && !m.wall.empty() && (m.tiff != g_results["bare"].tiff || m.pdf != g_results["bare"].pdf))
            std::printf("  totals differ: %s TIFF %lld PDF %lld\n", name.c_str(), (long long)m.tiff, (long long)m.pdf);

    std::printf("\nWindow thread while searching a %d-page PDF and a %d-directory TIFF:\n", SlowCorpus::kHeavyPdfPages,
                SlowCorpus::kManyTiffPages);
    double searchMs = 0;
    SlowCorpus slow;
    for (int lanes : {1, 0}) {
        const Responsiveness r = measureResponsiveness(lanes, slow.root());
        std::printf("  %-8s longest event-loop gap %7.1f ms, first row after %7.1f ms, search %8.1f ms\n",
                    lanes ? "1 lane" : "N lanes", r.longestGapMs, r.firstRowMs, r.totalMs);
        searchMs = std::max(searchMs, r.totalMs);
    }
    std::printf("  %-8s longest event-loop gap %7.1f ms over the same time without a search\n", "idle",
                idleLongestGapMs(int(searchMs)));

    HugeFolder huge;
    std::printf("\nWindow thread while searching one folder of %d files (each counted, each rejected):\n",
                HugeFolder::kHugeFolderFiles);
    const Responsiveness r = measureResponsiveness(0, huge.root());
    std::printf("  %-8s longest event-loop gap %7.1f ms, first row after %7.1f ms, search %8.1f ms\n", "N lanes",
                r.longestGapMs, r.firstRowMs, r.totalMs);
    return 0;
}
