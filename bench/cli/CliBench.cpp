// Whole-process cost of counting one generated corpus: quirewell-count (all processors, and one
// file at a time), shell loops of one qpdf --show-npages or pdfinfo (PDF) and tiffinfo (TIFF)
// process per file, and
// exiftool -r -PageCount when it is installed. Wall and CPU time (children included), as ratios
// to quirewell-count, all measured in this one run; the page totals are compared as well.
//
//   cli_bench [files]          (default 2000; the corpus is made in a temporary folder first)
//   cli_bench --share [files]  automatic lanes against fixed ones, through a file system that
//                              delays each open, read and listing by 1 ms and by 10 ms
//                              (default 1000 files), and on the local disk
//   cli_bench --cache [files] [folder]  first and second count with the page-count cache
//                              against one without it and the bare walk + open + read 8 bytes
//                              (default 100000; a folder given is made once and used again)
//
// Corpora live in the temporary folder ($TMPDIR or /tmp) and are removed at the end.

#include "TestDocuments.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <QDirIterator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

#include <cstdio>
#include <vector>

namespace {

struct Timing {
    QString name;
    double wall = 0;  // seconds
    double cpu = 0;   // user + system of the children, seconds
    QByteArray out;
    bool ok = false;
};

double childCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Timing measure(const QString &name, const QString &program, const QStringList &args)
{
    Timing t;
    t.name = name;
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    const double cpu0 = childCpu();
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    t.ok = p.waitForStarted() && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit;
    t.wall = double(clock.nsecsElapsed()) / 1e9;
    t.cpu = childCpu() - cpu0;
    t.out = p.readAllStandardOutput();
    return t;
}

// Best of `rounds` by wall time (the machine may be busy with other work).
Timing best(int rounds, const QString &name, const QString &program, const QStringList &args)
{
    Timing b;
    for (int i = 0; i < rounds; ++i) {
        Timing t = measure(name, program, args);
        if (i == 0 || t.wall < b.wall)
            b = t;
    }
    return b;
}

void makeCorpus(const QString &root, int files)
{
    const int folders = std::max(1, files / 100);
    int made = 0;
    for (int f = 0; f < folders; ++f) {
        const QString folder = QStringLiteral("%1/f%2/g%3/h%4").arg(root).arg(f % 5).arg(f % 10).arg(f);
        QDir().mkpath(folder);
        for (int i = 0; i < files / folders && made < files; ++i, ++made) {
            const QByteArray base = QFile::encodeName(folder) + "/doc" + QByteArray::number(i);
            switch (i % 4) {
            case 0: testdocs::writeTiff(base + ".tif", 1 + i % 17); break;
            case 1: testdocs::writePdf(base + ".pdf", 1 + i % 97); break;
            case 2: testdocs::writeBytes(base + ".txt", "notes"); break;
            default: testdocs::writeBytes(base + ".jpg", QByteArray(2048, 'j')); break;
            }
        }
    }
}

// --totals-only --format csv: a header, then "tiffPages,pdfPages,files,failed,complete".
QByteArray countTotals(const QByteArray &csv)
{
    const QList<QByteArray> lines = csv.split('\n');
    if (lines.size() < 2)
        return "?";
    const QList<QByteArray> cells = lines[1].split(',');
    return cells.size() < 2 ? QByteArray("?") : cells[0] + ' ' + cells[1];
}

// One process per file: $2 picks qpdf --show-npages or pdfinfo for the PDFs; tiffinfo counts
// the TIFF directories.
const char kLoop[] = R"(
root="$1"; tiff=0; pdf=0
while IFS= read -r -d '' f; do
  if [ "$2" = qpdf ]; then n=$(qpdf --show-npages "$f" 2>/dev/null)
  else n=$(pdfinfo "$f" 2>/dev/null | sed -n 's/^Pages: *//p'); fi
  [ -n "$n" ] && pdf=$((pdf + n))
done < <(find "$root" -type f \( -iname '*.pdf' \) -print0)
while IFS= read -r -d '' f; do
  n=$(tiffinfo "$f" 2>/dev/null | grep -c '^TIFF Directory at offset')
  tiff=$((tiff + n))
done < <(find "$root" -type f \( -iname '*.tif' -o -iname '*.tiff' \) -print0)
echo "$tiff $pdf"
)";

}  // namespace

// ---------------------------------------------------------------- one run, measured alone

struct Run {
    double wall = 0, cpu = 0;
    long maxRssKb = 0;  // the counter's own peak (its helpers not included)
    bool ok = false;
    QByteArray out;
};

// Runs program with args (and extra environment entries), stdout to a scratch file; wait4 gives
// this child's own CPU time and peak memory.
Run spawnRun(const QString &program, const QStringList &args, const QStringList &env = {})
{
    Run r;
    const QByteArray outFile = QFile::encodeName(QDir::tempPath()) + "/cli_bench." + QByteArray::number(::getpid()) + ".out";
    std::vector<QByteArray> argBytes{QFile::encodeName(program)};
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> envBytes;
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const QString &x : env)
            replaced |= QByteArray(*e).startsWith(x.section('=', 0, 0).toLocal8Bit() + '=');
        if (!replaced)
            envBytes.emplace_back(*e);
    }
    for (const QString &x : env)
        envBytes.push_back(x.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return r;
    int status = 0;
    rusage u{};
    ::wait4(pid, &status, 0, &u);
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    r.maxRssKb = u.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    QFile f(QFile::decodeName(outFile));
    if (f.open(QIODevice::ReadOnly))
        r.out = f.readAll();
    QFile::remove(QFile::decodeName(outFile));
    return r;
}

// Candidates measured in turns, round after round; the median of each.
struct Candidate {
    QString name;
    QStringList args;
    QStringList env;
    std::vector<Run> runs;
    Run median() const
    {
        std::vector<Run> sorted = runs;
        std::sort(sorted.begin(), sorted.end(), [](const Run &a, const Run &b) { return a.wall < b.wall; });
        return sorted[sorted.size() / 2];
    }
};

void inTurns(std::vector<Candidate> &candidates, int rounds, const QString &program)
{
    for (int round = 0; round < rounds; ++round)
        for (Candidate &c : candidates) {
            c.runs.push_back(spawnRun(program, c.args, c.env));
            std::printf("  %-34s %8.3f s\n", qPrintable(c.name), c.runs.back().wall);
            std::fflush(stdout);
        }
}

// ---------------------------------------------------------------- a delayed share

QString delayFsProgram()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).absolutePath() + QStringLiteral("/delayfs");
}

// Mounts source at mountPoint through delayfs; the child's pid, or 0 (with the reason printed).
pid_t mountDelayed(const QString &source, const QString &mountPoint, int microseconds)
{
    QDir().mkpath(mountPoint);
    struct stat before {};
    ::stat(QFile::encodeName(mountPoint).constData(), &before);
    const QByteArray program = QFile::encodeName(delayFsProgram());
    QByteArray a1 = QFile::encodeName(source), a2 = QFile::encodeName(mountPoint), a3 = QByteArray::number(microseconds);
    char *argv[] = {const_cast<char *>(program.constData()), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        std::printf("cannot start %s\n", program.constData());
        return 0;
    }
    // Mounted once the mount point belongs to another device.
    for (int i = 0; i < 200; ++i) {
        struct stat now {};
        if (::stat(QFile::encodeName(mountPoint).constData(), &now) == 0 && now.st_dev != before.st_dev)
            return pid;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::printf("delayfs ended before mounting (status %d)\n", status);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::printf("delayfs did not mount within 10 s\n");
    return 0;
}

void unmount(const QString &mountPoint, pid_t pid)
{
    if (::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH) != 0)
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), mountPoint});
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

int shareBench(int files)
{
    QTemporaryDir dir;
    const QString corpus = dir.filePath("corpus"), mnt = dir.filePath("mnt");
    std::printf("making %d files in %s ...\n", files, qPrintable(corpus));
    makeCorpus(corpus, files);
    const QString count = QStringLiteral(QW_COUNT_PROGRAM);
    const QStringList base = {"-r", "--no-cache", "--format", "csv"};
    const int processors = QThread::idealThreadCount();
    const int today = std::clamp(processors, 1, 8);

    // The local disk: automatic against today's default (the processors, at most 8).
    {
        std::printf("\nlocal disk, warm page cache:\n");
        spawnRun(count, base + QStringList{corpus});
        std::vector<Candidate> c = {{"automatic", base + QStringList{corpus}, {}, {}},
                                    {QStringLiteral("--jobs %1 (today's default)").arg(today),
                                     QStringList{"--jobs", QString::number(today)} + base + QStringList{corpus}, {}, {}}};
        // A quick count on a shared machine varies by more than the margin asked: more rounds.
        inTurns(c, 11, count);
        const Run a = c[0].median(), d = c[1].median();
        std::printf("local: automatic %.3f s, --jobs %d %.3f s: %.3f x (target <= 1.05)\n", a.wall, today, d.wall,
                    a.wall / d.wall);
        const auto medianCpu = [](const Candidate &x) {
            std::vector<double> v;
            for (const Run &r : x.runs)
                v.push_back(r.cpu);
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf("local: processor time (counter process) automatic %.3f s, fixed %.3f s\n", medianCpu(c[0]),
                    medianCpu(c[1]));
        std::printf("local: peak memory automatic %ld KB, fixed %ld KB (counter process; helpers apart)\n",
                    a.maxRssKb, d.maxRssKb);
    }

    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        std::printf("\n/dev/fuse is missing or not usable here: no delayed share measured\n");
        return 0;
    }
    if (!QFileInfo(delayFsProgram()).isExecutable()) {
        std::printf("\ndelayfs was not built (libfuse3-dev missing): no delayed share measured\n");
        return 0;
    }
    for (const int delayUs : {1000, 10000}) {
        const pid_t fs = mountDelayed(corpus, mnt, delayUs);
        if (!fs)
            return 1;
        std::printf("\ndelayed share, %d ms per open, read and listing:\n", delayUs / 1000);
        std::vector<Candidate> c;
        c.push_back({"automatic", base + QStringList{mnt}, {}, {}});
        for (int jobs : {2, 4, 8, 16, 32})
            c.push_back({QStringLiteral("--jobs %1").arg(jobs), QStringList{"--jobs", QString::number(jobs)} + base + QStringList{mnt}, {}, {}});
        inTurns(c, delayUs >= 10000 ? 1 : 3, count);
        size_t bestFixed = 1;
        for (size_t i = 1; i < c.size(); ++i)
            if (c[i].median().wall < c[bestFixed].median().wall)
                bestFixed = i;
        const Run a = c[0].median(), b = c[bestFixed].median();
        std::printf("share %d ms: automatic %.3f s, best fixed (%s) %.3f s: %.2f x (target <= 1.3)\n", delayUs / 1000,
                    a.wall, qPrintable(c[bestFixed].name), b.wall, a.wall / b.wall);
        std::printf("share %d ms: same totals: %s\n", delayUs / 1000,
                    countTotals(a.out) == countTotals(b.out) ? "yes" : "NO");
        unmount(mnt, fs);
    }
    return 0;
}

// ---------------------------------------------------------------- the cache

// The floor: every folder listed, every file opened and its first 8 bytes read.
double bareWalk(const QString &root, long &filesSeen)
{
    const auto t0 = std::chrono::steady_clock::now();
    filesSeen = 0;
    std::vector<QByteArray> folders{QFile::encodeName(root)};
    while (!folders.empty()) {
        const QByteArray folder = folders.back();
        folders.pop_back();
        DIR *d = ::opendir(folder.constData());
        if (!d)
            continue;
        while (const dirent *e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const QByteArray path = folder + '/' + e->d_name;
            struct stat st {};
            if (::stat(path.constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                folders.push_back(path);
                continue;
            }
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                char buf[8];
                [[maybe_unused]] const ssize_t n = ::read(fd, buf, sizeof buf);
                ::close(fd);
                ++filesSeen;
            }
        }
        ::closedir(d);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// kept: a folder to use again (made there when it does not exist, and left for the next run).
int cacheBench(int files, const QString &kept)
{
    QTemporaryDir dir;
    const QString corpus = kept.isEmpty() ? dir.filePath("corpus") : kept;
    if (!QFileInfo::exists(corpus)) {
        std::printf("making %d files in %s ...\n", files, qPrintable(corpus));
        std::fflush(stdout);
        makeCorpus(corpus, files);
    }
    // Counts are kept only for files that settled 2 s before their count.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const QString count = QStringLiteral(QW_COUNT_PROGRAM);
    const QStringList base = {"-r", "--format", "csv", corpus};
    spawnRun(count, QStringList{"--no-cache"} + base);  // warms the page cache

    const int rounds = 3;
    std::vector<double> bare, none, first, second;
    Run noneRun, firstRun, secondRun;
    for (int round = 0; round < rounds; ++round) {
        long seen = 0;
        bare.push_back(bareWalk(corpus, seen));
        const Run n = spawnRun(count, QStringList{"--no-cache"} + base);
        none.push_back(n.wall);
        const QString cacheHome = dir.filePath(QStringLiteral("cache%1").arg(round));
        const QStringList env{QStringLiteral("XDG_CACHE_HOME=") + cacheHome};
        const Run f = spawnRun(count, base, env);
        first.push_back(f.wall);
        const Run s = spawnRun(count, base, env);
        second.push_back(s.wall);
        std::printf("  round %d: bare %.3f s (%ld files), no cache %.3f s, first %.3f s, second %.3f s\n", round + 1,
                    bare.back(), seen, n.wall, f.wall, s.wall);
        std::fflush(stdout);
        if (round == 0) {
            noneRun = n;
            firstRun = f;
            secondRun = s;
        }
        QDir(cacheHome).removeRecursively();
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double b = median(bare), n = median(none), f = median(first), s = median(second);
    std::printf("\n%d files, medians of %d rounds taken in turns\n", files, rounds);
    std::printf("bare walk+open+read 8 bytes   %8.3f s\n", b);
    std::printf("count without the cache       %8.3f s  %6.1f x bare\n", n, n / b);
    std::printf("first count with the cache    %8.3f s  %6.2f x without (target <= 1.1)\n", f, f / n);
    std::printf("second count with the cache   %8.3f s  %6.2f x bare (target <= 3)\n", s, s / b);
    std::printf("peak memory (counter process): without %ld KB, first %ld KB, second %ld KB\n", noneRun.maxRssKb,
                firstRun.maxRssKb, secondRun.maxRssKb);
    std::printf("same output with and without the cache: %s\n",
                noneRun.out == firstRun.out && firstRun.out == secondRun.out ? "yes" : "NO");
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--share")
        return shareBench(argc > 2 ? std::max(4, atoi(argv[2])) : 1000);
    if (argc > 1 && QByteArray(argv[1]) == "--cache")
        return cacheBench(argc > 2 ? std::max(4, atoi(argv[2])) : 100000, argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    const int files = argc > 1 ? std::max(4, atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    const QString root = dir.path();
    std::printf("making %d files in %s ...\n", files, qPrintable(root));
    std::fflush(stdout);
    makeCorpus(root, files);

    const QString count = QStringLiteral(QW_COUNT_PROGRAM);
    const int n = QThread::idealThreadCount();
    const QStringList base = {"-r", "--totals-only", "--format", "csv", root};
    measure("warm-up", count, base);  // fills the page cache for everyone

    std::vector<Timing> runs;
    runs.push_back(best(3, QStringLiteral("quirewell-count --jobs %1").arg(n), count,
                        QStringList{"--jobs", QString::number(n)} + base));
    runs.push_back(best(3, QStringLiteral("quirewell-count --jobs 1"), count, QStringList{"--jobs", "1"} + base));
    const bool haveTools = !QStandardPaths::findExecutable("qpdf").isEmpty()
                           && !QStandardPaths::findExecutable("tiffinfo").isEmpty();
    if (haveTools)
        runs.push_back(measure("loop: qpdf --show-npages / tiffinfo", "bash", {"-c", kLoop, "loop", root, "qpdf"}));
    else
        std::printf("qpdf or tiffinfo missing: no shell loop\n");
    const bool havePdfinfo = haveTools && !QStandardPaths::findExecutable("pdfinfo").isEmpty();
    if (havePdfinfo)
        runs.push_back(measure("loop: pdfinfo / tiffinfo", "bash", {"-c", kLoop, "loop", root, "pdfinfo"}));
    else
        std::printf("pdfinfo missing (poppler-utils): no pdfinfo loop\n");
    if (!QStandardPaths::findExecutable("exiftool").isEmpty())
        runs.push_back(measure("exiftool -r -PageCount", "exiftool", {"-r", "-PageCount", "-q", root}));
    else
        std::printf("exiftool not installed: left out\n");

    const Timing &ref = runs.front();
    std::printf("\n%d files, %d processors (machine shared: compare ratios, not seconds)\n\n", files, n);
    std::printf("%-42s %9s %9s %10s %10s\n", "method", "wall s", "cpu s", "wall x", "cpu x");
    for (const Timing &t : runs)
        std::printf("%-42s %9.3f %9.3f %10.1f %10.1f%s\n", qPrintable(t.name), t.wall, t.cpu, t.wall / ref.wall,
                    t.cpu / std::max(ref.cpu, 1e-9), t.ok ? "" : "  (failed)");
    std::printf("\n--jobs 1 / --jobs %d: %.2f x wall\n", n, runs[1].wall / ref.wall);
    std::printf("page totals (TIFF PDF): quirewell-count %s", countTotals(ref.out).constData());
    if (haveTools)
        std::printf(", qpdf loop %s", runs[2].out.trimmed().constData());
    if (havePdfinfo)
        std::printf(", pdfinfo loop %s", runs[3].out.trimmed().constData());
    std::printf("\n");
    return 0;
}
