// Files per second of a whole search: through the real main window (offscreen, event-loop turn per
// file, grid rows, icons, page counters created by class identifier) and as bare work (the same
// walk and filters with the two counting functions called directly, no window). The ratio of the
// two is the window's cost; it is printed at the end of the run.

#include "TestDocuments.h"

#include "AppSettings.h"
#include "FolderSearch.h"
#include "FolderTree.h"
#include "PdfPageCount.h"
#include "SearchCriteriaPanel.h"
#include "TiffPageCount.h"
#include "ResultGrid.h"
#include "frmMain.h"

#include "ComRegistry.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

constexpr int kFiles = 5000;

// kFiles files in 50 folders nested up to three deep: about a quarter TIFF, a quarter PDF, the
// rest other documents the filter passes over.
class Corpus
{
public:
    Corpus()
    {
        int made = 0;
        for (int f = 0; f < 50; ++f) {
            const QString folder = QStringLiteral("f%1/g%2/h%3").arg(f % 5).arg(f % 10).arg(f);
            QDir().mkpath(m_dir.filePath(folder));
            for (int i = 0; i < kFiles / 50; ++i, ++made) {
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

// The walk's host without a window: rows go into a vector, no event loop turns.
class BareHost final : public search::SearchHost
{
public:
    int rows = 1;
    int rowCount() const override { return rows; }
    void clearRows() override { rows = 1; }
    void appendRow(const ResultRow &) override { ++rows; }
    QPixmap fileIcon(const QString &) override { return {}; }
    QString filterText() const override { return QStringLiteral("*.pdf,*.tif,*.tiff"); }
    void setFilterText(const QString &) override {}
    search::SearchOptions searchOptions() const override
    {
        search::SearchOptions o;
        o.includeSubfolders = true;
        return o;
    }
    QString searchCaption() const override { return m_caption; }
    void setSearchCaption(const QString &c) override { m_caption = c; }
    void showStatus(const QString &, const QString &) override {}
    void setTotalsText(const QString &) override {}

private:
    QString m_caption = search::FolderSearch::kSearchCaption;
};

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

void report(benchmark::State &state, int64_t tiff, int64_t pdf)
{
    state.counters["files/s"] = benchmark::Counter(double(kFiles), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["tiff_pages"] = double(tiff);
    state.counters["pdf_pages"] = double(pdf);
}

// state.range(0): 1 = the window is shown (offscreen), so every event-loop turn also paints.
void BM_MainWindowSearch(benchmark::State &state)
{
    const QString root = corpus().root();
    modGlobal::AppSettings = modGlobal::SettingsRecord::defaults();
    modGlobal::AppSettings.StartupFolder = root;
    frmMain window;
    window.criteriaPanel->includeSubfolderBox()->setChecked(true);
    if (state.range(0)) {
        window.show();
        // Let the first activation's search run before timing.
        while (window.FirstActivation() || window.cmdSearch->text() != search::FolderSearch::kSearchCaption
               || window.vsFiles->rows() == 1)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    emit window.ftv->folderItemSelected(root);  // CurrentFolder, as a pick in the tree sets it
    for (auto _ : state) {
        window.cmdSearch_Click();
        while (window.folderSearch().isRunning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    report(state, window.folderSearch().tiffPageTotal(), window.folderSearch().pdfPageTotal());
}

void BM_BareWalkDirectCounting(benchmark::State &state)
{
    const QString root = corpus().root();
    BareHost host;
    search::FolderSearch walk(host, [] { return std::make_unique<DirectCounters>(); });
    for (auto _ : state) {
        walk.cmdSearch_Click(root);
        while (walk.isRunning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    report(state, walk.tiffPageTotal(), walk.pdfPageTotal());
}

void BM_BareWalkComponentCounting(benchmark::State &state)
{
    const QString root = corpus().root();
    BareHost host;
    search::FolderSearch walk(host);
    for (auto _ : state) {
        walk.cmdSearch_Click(root);
        while (walk.isRunning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    report(state, walk.tiffPageTotal(), walk.pdfPageTotal());
}

BENCHMARK(BM_MainWindowSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_BareWalkDirectCounting)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_BareWalkComponentCounting)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()->MeasureProcessCPUTime();

// Prints what the console reporter prints, and remembers each benchmark's time per search.
class RatioReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
    std::map<std::string, std::pair<double, double>> times;  // real, process CPU
};

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QString why;
    if (!testdocs::useBuildRegistry(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    corpus();  // build the documents before timing anything
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *win : {"BM_MainWindowSearch/0/iterations:3/process_time/real_time",
                            "BM_MainWindowSearch/1/iterations:3/process_time/real_time"}) {
        for (const char *bare : {"BM_BareWalkDirectCounting/iterations:3/process_time/real_time",
                                 "BM_BareWalkComponentCounting/iterations:3/process_time/real_time"}) {
            const auto w = reporter.times.find(win);
            const auto b = reporter.times.find(bare);
            if (w != reporter.times.end() && b != reporter.times.end() && b->second.first > 0
                && b->second.second > 0)
                std::printf("%s / %s: real time %.2f, CPU time %.2f\n", win, bare,
                            w->second.first / b->second.first, w->second.second / b->second.second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
