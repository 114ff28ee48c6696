// Result grid at search scale. Run: QT_QPA_PLATFORM=offscreen grid_bench
#include "AppSettings.h"
#include "FlexGridModel.h"
#include "ResultGrid.h"
#include "SelectionTotals.h"

#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>

namespace {

constexpr int kRows = 200000;

struct Source {
    QString name, location, fullPath, sizeKb, modified;
    qint64 kb = 0;
    qint64 modifiedKey = 0;
};

const std::vector<Source> &sources()
{
    static const std::vector<Source> rows = [] {
        std::mt19937 rng(42);
        std::uniform_int_distribution<qint64> kb(0, 2000000);
        std::uniform_int_distribution<qint64> secs(0, 20LL * 365 * 24 * 3600);
        const char *exts[] = {"tif", "pdf", "TIF", "txt", "tiff"};
        const QDateTime base(QDate(2000, 1, 1), QTime(0, 0));
        std::vector<Source> out(kRows);
        for (int i = 0; i < kRows; ++i) {
            Source &s = out[size_t(i)];
            const unsigned h = unsigned(rng());
            s.location = QStringLiteral("/home/user/archive/scans/%1/batch_%2").arg(h % 97).arg(h % 1013);
            s.name = QStringLiteral("Scan %1 page set %2.%3").arg(h % 100000).arg(i).arg(QLatin1String(exts[i % 5]));
            s.fullPath = s.location + QLatin1Char('/') + s.name;
            s.kb = kb(rng);
            s.sizeKb = ResultGrid::sizeKbText(s.kb);
            const QDateTime t = base.addSecs(secs(rng) / 60 * 60);
            s.modified = ResultGrid::modifiedDateText(t);
            s.modifiedKey = t.toSecsSinceEpoch();
        }
        return out;
    }();
    return rows;
}

ResultRow toRow(const Source &s, const QPixmap &icon)
{
    ResultRow r;
    r.FileName = s.name;
    r.Location = s.location;
    r.SizeKb = s.sizeKb;
    r.ModifiedDate = s.modified;
    r.FullPath = s.fullPath;
    r.Pages = QString::number(s.kb % 300);
    r.Icon = icon;
    return r;
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
    const auto &src = sources();
    const int count = int(state.range(0));
    double bytesPerRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = makeGrid();
        grid->show();
        QApplication::processEvents();
        const long before = rssBytes();
        state.ResumeTiming();
        for (int i = 0; i < count; ++i) {
            grid->AppendResultRow(toRow(src[size_t(i)], icon()));
            if (turn)
                QApplication::processEvents();
        }
        state.PauseTiming();
        bytesPerRow = double(rssBytes() - before) / count;
        state.counters["storage_bytes_per_row"] = double(grid->model()->storageBytes()) / count;
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["rows_per_s"] = benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["rss_bytes_per_row"] = bytesPerRow;
}

void BM_AppendRows(benchmark::State &state) { appendRows(state, false); }
void BM_AppendRowsWithEventLoopTurn(benchmark::State &state) { appendRows(state, true); }

std::unique_ptr<ResultGrid> sharedGrid;  // released before the application object

ResultGrid &filledGrid()
{
    if (!sharedGrid) {
        sharedGrid = makeGrid();
        for (const Source &s : sources())
            sharedGrid->AppendResultRow(toRow(s, icon()));
        sharedGrid->show();
        QApplication::processEvents();
    }
    return *sharedGrid;
}

// Puts the rows back into an order unrelated to any sort key.
void shuffle(ResultGrid &grid)
{
    grid.setColSort(ColFullPath, FlexGrid::SortStringAscending);
    grid.select(1, ColFullPath, grid.rows() - 1, ColFullPath);
    grid.sortSelection();
}

void headerSort(benchmark::State &state, int col)
{
    ResultGrid &grid = filledGrid();
    // A selection that has to follow its rows: 500 runs of 100 rows.
    QItemSelection selection;
    QAbstractItemModel *m = grid.view()->model();
    for (int r = 0; r + 100 < m->rowCount(); r += 400)
        selection.append(QItemSelectionRange(m->index(r, 0), m->index(r + 99, m->columnCount() - 1)));
    grid.view()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    for (auto _ : state) {
        state.PauseTiming();
        shuffle(grid);
        state.ResumeTiming();
        // What a header click does: the typed sort, then the after-sort handling.
        grid.sortByColumn(col, FlexGrid::SortedAscending);
        emit grid.afterSort(col, FlexGrid::SortedAscending);
    }
    state.counters["rows"] = grid.rows() - 1;
}

void BM_SortBySize(benchmark::State &state) { headerSort(state, ColSize); }
void BM_SortByModifiedDate(benchmark::State &state) { headerSort(state, ColModifiedDate); }
void BM_SortByFileName(benchmark::State &state) { headerSort(state, ColFileName); }

// The floor: std::stable_sort of (key, index) pairs already parsed, in the same shuffled order.
template <typename Key, typename Less>
void plainSort(benchmark::State &state, Key keyOf, Less less)
{
    const auto &src = sources();
    std::vector<int> shuffled(src.size());
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::sort(shuffled.begin(), shuffled.end(), [&](int a, int b) { return src[size_t(a)].fullPath < src[size_t(b)].fullPath; });
    using K = decltype(keyOf(src[0]));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::pair<K, int>> keys;
        keys.reserve(src.size());
        for (int i : shuffled)
            keys.emplace_back(keyOf(src[size_t(i)]), i);
        state.ResumeTiming();
        std::stable_sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) { return less(a.first, b.first); });
        benchmark::DoNotOptimize(keys.data());
    }
}

void BM_PlainStableSortSize(benchmark::State &state)
{
    plainSort(state, [](const Source &s) { return s.kb; }, std::less<qint64>());
}
void BM_PlainStableSortDate(benchmark::State &state)
{
    plainSort(state, [](const Source &s) { return s.modifiedKey; }, std::less<qint64>());
}
void BM_PlainStableSortName(benchmark::State &state)
{
    plainSort(state, [](const Source &s) { return s.name; },
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
}

// A selection change as the user makes it, with the status bar's totals kept (range 1) or not
// (range 0; range 2 only listens): a click on another row, a Shift+click one row further, Select All then a click,
// Invert Selection.
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
        case ExtendByOne: sm->select(rowRange(0, 100000 + i % 2), QItemSelectionModel::ClearAndSelect); break;
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

// The alternative the totals avoid: counting every selected row again, here all 200,000.
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

BENCHMARK(BM_SelectClickOtherRow)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectExtendByOne)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectAllThenClick)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectInvert)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionTotalsFullRecount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendRows)->Arg(kRows)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AppendRowsWithEventLoopTurn)->Arg(kRows)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SortBySize)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortByModifiedDate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortByFileName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainStableSortSize)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainStableSortDate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainStableSortName)->Unit(benchmark::kMillisecond)->Iterations(3);

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
