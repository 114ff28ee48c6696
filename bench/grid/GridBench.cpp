// Result grid at archive scale: 1,000,000 listed files in 1,000 folders. Run:
//   QT_QPA_PLATFORM=offscreen grid_bench
// Appends (rows per second, bytes kept per row beyond the name bytes), header sorts against a
// plain std::stable_sort of the same values (and, for names, of the same collation keys), and
// selection totals counted again over every row selected.
#include "AppSettings.h"
#include "FlexGridModel.h"
#include "ResultGrid.h"
#include "SelectionTotals.h"

#include <QApplication>
#include <QCollator>
#include <QFile>
#include <QItemSelectionModel>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>

namespace {

constexpr int kRows = 1000000;
constexpr int kFolders = 1000;

struct Sources {
    std::vector<search::CountedFile> files;
    size_t nameBytes = 0;
};

// Walk order: a folder's files together, names with numbers, sizes and times spread wide.
const Sources &sources()
{
    static const Sources s = [] {
        Sources out;
        std::mt19937 rng(42);
        std::uniform_int_distribution<uint64_t> bytes(0, 2000000ULL * 1024);
        std::uniform_int_distribution<qint64> secs(0, 20LL * 365 * 24 * 3600);
        const char *exts[] = {"tif", "pdf", "TIF", "txt", "tiff"};
        const qint64 base = QDateTime(QDate(2000, 1, 1), QTime(0, 0)).toMSecsSinceEpoch();
        out.files.resize(kRows);
        const int perFolder = kRows / kFolders;
        for (int f = 0; f < kFolders; ++f) {
            const QByteArray folder = "/home/user/archive/scans/" + QByteArray::number(2000 + f % 25) + "/batch_" +
                                      QByteArray::number(f);
            for (int k = 0; k < perFolder; ++k) {
                const int i = f * perFolder + k;
                search::CountedFile &c = out.files[size_t(i)];
                const unsigned h = unsigned(rng());
                c.folder = folder;
                c.name = "Scan " + QByteArray::number(h % 100000) + " page set " + QByteArray::number(i) + '.' +
                         exts[i % 5];
                c.path = folder + '/' + c.name;
                c.factsKnown = true;
                c.size = bytes(rng);
                c.modified = QDateTime::fromMSecsSinceEpoch(base + secs(rng) * 1000);
                c.type = search::fileTypeOf(c.name);
                c.pages = int32_t(h % 300) - (h % 50 == 0 ? 400 : 0);  // every 50th a failed count
                out.nameBytes += size_t(c.name.size());
            }
        }
        return out;
    }();
    return s;
}

std::unique_ptr<ResultGrid> makeGrid()
{
    auto grid = std::make_unique<ResultGrid>();
    modGlobal::SettingsRecord settings = modGlobal::SettingsRecord::defaults();
    grid->ApplyStartupAppearance(settings);
    grid->SetUpResultGrid(settings);
    grid->resize(1000, 700);
    return grid;
}

long rssBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4096 : 0;
}

QPixmap icon()
{
    static QPixmap pm = [] {
        QPixmap p(16, 16);
        p.fill(Qt::red);
        return p;
    }();
    return pm;
}

// Appending as the search does, into a shown grid; `turn` = give the event loop a turn per row.
void appendRows(benchmark::State &state, bool turn)
{
    const Sources &src = sources();
    const int count = int(state.range(0));
    double rssPerRow = 0;
    double keptPerRow = 0;
    size_t nameBytes = 0;
    for (int i = 0; i < count; ++i)
        nameBytes += size_t(src.files[size_t(i)].name.size());
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = makeGrid();
        grid->show();
        QApplication::processEvents();
        const long before = rssBytes();
        state.ResumeTiming();
        for (int i = 0; i < count; ++i) {
            grid->AppendFile(src.files[size_t(i)], icon());
            if (turn)
                QApplication::processEvents();
        }
        state.PauseTiming();
        rssPerRow = double(rssBytes() - before - long(nameBytes)) / count;
        keptPerRow = double(grid->storageBytes() - nameBytes) / count;
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["rows_per_s"] = benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["kept_bytes_per_row_beyond_names"] = keptPerRow;
    state.counters["rss_bytes_per_row_beyond_names"] = rssPerRow;
    state.counters["name_bytes_per_row"] = double(nameBytes) / count;
}

void BM_AppendFiles(benchmark::State &state) { appendRows(state, false); }
void BM_AppendFilesWithEventLoopTurn(benchmark::State &state) { appendRows(state, true); }

std::unique_ptr<ResultGrid> sharedGrid;  // released before the application object

ResultGrid &filledGrid()
{
    if (!sharedGrid) {
        sharedGrid = makeGrid();
        for (const search::CountedFile &f : sources().files)
            sharedGrid->AppendFile(f, icon());
        sharedGrid->show();
        QApplication::processEvents();
    }
    return *sharedGrid;
}

// Puts the rows back into path order, unrelated to the sort keys measured.
void shuffle(ResultGrid &grid)
{
    grid.setColSort(ColFullPath, FlexGrid::SortStringAscending);
    grid.select(1, ColFullPath, grid.rows() - 1, ColFullPath);
    grid.sortSelection();
}

// The selection a header click meets: ten rows picked with a click and a Shift+click (range 0),
// or 50,000 rows in runs of 100 over the whole list (range 1), which the sort scatters. The
// selection model then keeps one persistent index per selected row: that cost grows with the
// selection, not with the rows sorted.
void headerSort(benchmark::State &state, int col)
{
    ResultGrid &grid = filledGrid();
    QItemSelection selection;
    QAbstractItemModel *m = grid.view()->model();
    const int run = state.range(0) == 0 ? 10 : 100;
    const int step = state.range(0) == 0 ? m->rowCount() : 2000;
    for (int r = 5000; r + run < m->rowCount(); r += step)
        selection.append(QItemSelectionRange(m->index(r, 0), m->index(r + run - 1, m->columnCount() - 1)));
    grid.view()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    grid.view()->selectionModel()->setCurrentIndex(m->index(5000, 0), QItemSelectionModel::NoUpdate);
    for (auto _ : state) {
        state.PauseTiming();
        shuffle(grid);
        state.ResumeTiming();
        // What a header click does: the typed sort, then the after-sort handling.
        grid.sortByColumn(col, FlexGrid::SortedAscending);
        emit grid.afterSort(col, FlexGrid::SortedAscending);
    }
    state.counters["rows"] = grid.rows() - 1;
    state.counters["selected_rows"] = double(grid.view()->selectionModel()->selectedRows().size());
    grid.view()->selectionModel()->clearSelection();
}

void BM_SortBySize(benchmark::State &state) { headerSort(state, ColSize); }
void BM_SortByModifiedDate(benchmark::State &state) { headerSort(state, ColModifiedDate); }
void BM_SortByFileName(benchmark::State &state) { headerSort(state, ColFileName); }

// The floor: std::stable_sort of (key, index) pairs already made, in the order the files were
// listed (the grid's rows are in path order before their sort, which for these files is the same
// order: folders in turn, names random within each).
template <typename Key, typename Less>
void plainSort(benchmark::State &state, Key keyOf, Less less)
{
    const auto &files = sources().files;
    using K = decltype(keyOf(files[0]));
    std::vector<std::pair<K, int>> made;
    made.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        made.emplace_back(keyOf(files[i]), int(i));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::pair<K, int>> keys = made;
        state.ResumeTiming();
        std::stable_sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) { return less(a.first, b.first); });
        benchmark::DoNotOptimize(keys.data());
    }
}

void BM_PlainStableSortSize(benchmark::State &state)
{
    plainSort(state, [](const search::CountedFile &f) { return ResultRows::kilobytes(f.size); }, std::less<qint64>());
}
void BM_PlainStableSortDate(benchmark::State &state)
{
    plainSort(state, [](const search::CountedFile &f) { return f.modified.toMSecsSinceEpoch() / 60000; },
              std::less<qint64>());
}

// The collator the grid's text columns use: the user's language, case-blind, digit-aware.
QCollator nameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

void BM_PlainStableSortNameKeys(benchmark::State &state)
{
    const QCollator collator = nameCollator();
    plainSort(state, [&](const search::CountedFile &f) { return collator.sortKey(QString::fromUtf8(f.name)); },
              [](const QCollatorSortKey &a, const QCollatorSortKey &b) { return a.compare(b) < 0; });
}

// The same with the keys made inside the timing, as any sort of names that are not kept as keys
// must make them.
void BM_MakeNameKeysAndStableSort(benchmark::State &state)
{
    const QCollator collator = nameCollator();
    const auto &files = sources().files;
    for (auto _ : state) {
        std::vector<std::pair<QCollatorSortKey, int>> keys;
        keys.reserve(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            keys.emplace_back(collator.sortKey(QString::fromUtf8(files[i].name)), int(i));
        std::stable_sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
        benchmark::DoNotOptimize(keys.data());
    }
}

// A selection change as the user makes it, with the status bar's totals kept (range 1) or not
// (range 0; range 2 only listens): a click on another row, a Shift+click one row further, Select
// All then a click, Invert Selection.
enum SelectionStep { ClickOtherRow, ExtendByOne, SelectAllThenClick, Invert };

void selectionChange(benchmark::State &state, SelectionStep step)
{
    ResultGrid &grid = filledGrid();
    QItemSelectionModel *sm = grid.view()->selectionModel();
    QAbstractItemModel *m = grid.view()->model();
    sm->clearSelection();
    std::unique_ptr<SelectionTotals> totals(state.range(0) == 1 ? new SelectionTotals(grid) : nullptr);
    // Range 2: a listener that does nothing, for what the selection model's own change report costs.
    QObject listener;
    if (state.range(0) == 2)
        QObject::connect(sm, &QItemSelectionModel::selectionChanged, &listener, [] {});
    const auto rowRange = [&](int first, int last) {
        return QItemSelection(m->index(first, 0), m->index(last, m->columnCount() - 1));
    };
    int i = 0;
    for (auto _ : state) {
        ++i;
        switch (step) {
        case ClickOtherRow: sm->select(rowRange(1000 + i % 2, 1000 + i % 2), QItemSelectionModel::ClearAndSelect); break;
        case ExtendByOne: sm->select(rowRange(0, 500000 + i % 2), QItemSelectionModel::ClearAndSelect); break;
        case SelectAllThenClick:
            if (i % 2)
                grid.SelectAll();
            else
                sm->select(rowRange(5, 5), QItemSelectionModel::ClearAndSelect);
            break;
        case Invert: grid.InvertSelection(); break;
        }
    }
    if (totals)
        state.counters["selected_rows"] = totals->rows();
    sm->clearSelection();
}

void BM_SelectClickOtherRow(benchmark::State &state) { selectionChange(state, ClickOtherRow); }
void BM_SelectExtendByOne(benchmark::State &state) { selectionChange(state, ExtendByOne); }
void BM_SelectAllThenClick(benchmark::State &state) { selectionChange(state, SelectAllThenClick); }
void BM_SelectInvert(benchmark::State &state) { selectionChange(state, Invert); }

// The totals counted again from scratch over every row selected, all 1,000,000.
void BM_SelectionTotalsFullRecount(benchmark::State &state)
{
    ResultGrid &grid = filledGrid();
    grid.SelectAll();
    SelectionTotals totals(grid);
    for (auto _ : state)
        totals.recount();
    state.counters["selected_rows"] = totals.rows();
    grid.view()->selectionModel()->clearSelection();
}

}  // namespace

BENCHMARK(BM_AppendFiles)->Arg(kRows)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AppendFilesWithEventLoopTurn)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SelectClickOtherRow)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectExtendByOne)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectAllThenClick)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectInvert)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionTotalsFullRecount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortBySize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainStableSortSize)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortByModifiedDate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainStableSortDate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortByFileName)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PlainStableSortNameKeys)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_MakeNameKeysAndStableSort)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    sources();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sharedGrid.reset();
    return 0;
}
