// The walk alone (no page counting): the walk reading every folder and file itself, one after
// another, against the walk with listing threads reading ahead, on a local tree and on the same
// tree with every open, listing step and file-status read made slower by a set time (as on a
// file server). The measurements take turns, round after round; each reports its median.
// Run: <build>/bench-bin/walk_bench [rounds]

#include "FolderListing.h"
#include "SearchCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

class NoCounters : public search::PageCounterFactory
{
public:
    std::unique_ptr<search::PageCounter> create(search::CounterKind) override { return nullptr; }
};

// folders^depth folders below the top, files in each.
void buildTree(const QString &top, int folders, int depth, int files)
{
    QDir().mkpath(top);
    for (int f = 0; f < files; ++f) {
        QFile file(top + QString("/scan%1.dat").arg(f));
        if (file.open(QIODevice::WriteOnly))
            file.write("x");
    }
    if (depth == 0)
        return;
    for (int i = 0; i < folders; ++i)
        buildTree(top + QString("/box%1").arg(i), folders, depth - 1, files);
}

// One search of the tree; wall-clock seconds and the files listed.
double searchOnce(const QByteArray &top, int listingThreads, int64_t &files)
{
    search::SearchCore core([] { return std::make_unique<NoCounters>(); });
    core.setListingThreads(listingThreads);
    search::SearchOptions options;
    options.filterText = QStringLiteral("*.*");
    options.includeSubfolders = true;
    core.options().set(options);
    bool done = false;
    QObject::connect(&core, &search::SearchCore::finished, &core, [&](const search::SearchSummary &s) {
        files = s.files;
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    core.start(top);
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return double(clock.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    // Local: 1 + 8 + 64 + 512 folders of 20 files (11,700 files). Delayed: 1 + 6 + 36 folders of
    // 12 files (516 files), so the one-at-a-time walk takes about a second at 1 ms.
    const QString local = dir.filePath("local"), share = dir.filePath("share");
    buildTree(local, 8, 3, 20);
    buildTree(share, 6, 2, 12);

    struct Setting
    {
        const char *place;
        QString tree;
        int delayUs;
    };
    const std::vector<Setting> settings = {{"local disk", local, 0}, {"1 ms per operation", share, 1000},
                                           {"10 ms per operation", share, 10000}};
    const std::vector<int> threadCounts = {0, 2, 4, 8};
    std::map<std::pair<int, int>, std::vector<double>> times;
    std::map<int, int64_t> filesSeen;
    for (int round = 0; round < rounds; ++round) {
        for (size_t s = 0; s < settings.size(); ++s) {
            search::setDelayPerOperation(std::chrono::microseconds(settings[s].delayUs));
            for (int threads : threadCounts) {
                if (settings[s].delayUs >= 10000 && round >= 2)
                    continue;  // slow: two rounds are enough to see the ratio
                int64_t files = 0;
                times[{int(s), threads}].push_back(searchOnce(QFile::encodeName(settings[s].tree), threads, files));
                filesSeen[int(s)] = files;
            }
        }
    }
    search::setDelayPerOperation(std::chrono::microseconds(0));
    for (size_t s = 0; s < settings.size(); ++s) {
        const double sequential = median(times[{int(s), 0}]);
        std::printf("%s (%lld files):\n", settings[s].place, qlonglong(filesSeen[int(s)]));
        for (int threads : threadCounts) {
            const double t = median(times[{int(s), threads}]);
            std::printf("  %d listing threads: %8.3f s  (%.2f x the one-at-a-time walk)\n", threads, t, t / sequential);
        }
    }
    return 0;
}
