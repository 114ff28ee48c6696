// Automatic counting lanes: the tuner's decisions on their own, and lanes that grow on files
// that keep them waiting while a fixed count stays as set.

#include "CountingLanesTuner.h"
#include "FakeCounters.h"
#include "SearchCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using search::detail::CountingLanesTuner;
using search::detail::LaneSample;

namespace {

struct TunerCase
{
    const char *name;
    int current;
    int processors;
    LaneSample sample;
    int expected;
};

// 4 lanes busy for a second each over one second of 2 processors: cpu says how much of that
// was processor time, queued how much of cpu was spent waiting for a processor.
LaneSample sample(double cpu, bool backlog, int64_t files = 100, double lanes = 4, double queued = 0)
{
    LaneSample s;
    s.laneSeconds = lanes;
    s.cpuSeconds = cpu;
    s.queuedSeconds = queued;
    s.elapsed = 1.0;
    s.files = files;
    s.backlog = backlog;
    return s;
}

LaneSample settling(LaneSample s)
{
    s.settling = true;
    return s;
}

class TunerTest : public ::testing::TestWithParam<TunerCase>
{
};

TEST_P(TunerTest, NextLaneCount)
{
    const TunerCase &c = GetParam();
    EXPECT_EQ(CountingLanesTuner::next(c.current, c.processors, c.sample), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TunerTest,
    ::testing::Values(
        TunerCase{"hardly_anything_but_waiting_grows_four_times_at_most", 4, 2, sample(0.2, true), 16},
        TunerCase{"grows_toward_what_keeps_the_processors_busy", 8, 8, sample(2.0, true, 100, 8), 26},
        TunerCase{"waiting_more_than_working_grows_one_lane_at_least", 4, 2, sample(1.6, true, 100, 4), 5},
        TunerCase{"one_waiting_lane_grows", 1, 2, sample(0.4, true, 100, 1), 4},
        TunerCase{"growth_stops_at_32", 20, 2, sample(0.5, true, 100, 20), 32},
        TunerCase{"never_beyond_32", 32, 2, sample(0.5, true, 100, 32), 32},
        TunerCase{"waiting_but_nothing_queued_keeps", 4, 2, sample(0.2, false), 4},
        TunerCase{"processor_bound_above_the_processors_shrinks", 12, 2, sample(1.9, true, 100, 12), 8},
        TunerCase{"shrinking_stops_at_the_processors", 3, 2, sample(1.95, true, 100, 3), 2},
        TunerCase{"processor_bound_at_the_processors_keeps", 2, 2, sample(1.9, true, 100, 2), 2},
        TunerCase{"machine_full_shrinks_toward_the_processors", 4, 2, sample(1.9, true), 2},
        TunerCase{"in_between_keeps", 10, 8, sample(6, true, 100, 10), 10},
        TunerCase{"too_few_files_to_judge", 4, 2, sample(0.1, true, 2), 4},
        TunerCase{"too_short_to_judge", 4, 2, [] { LaneSample s = sample(0.1, true); s.elapsed = 0.01; return s; }(), 4},
        TunerCase{"no_lane_time_to_judge", 4, 2, sample(0.1, true, 100, 0), 4},
        // Waiting for a processor is not using one: lanes that wake up often on a busy machine
        // queue a little each time, which neither fills the processors nor stops growth alone.
        TunerCase{"queuing_a_little_still_grows_by_the_processor_time_used", 8, 2, sample(3.0, true, 100, 8, 2.0), 13},
        TunerCase{"queuing_alone_does_not_fill_the_processors", 16, 2, sample(4.0, true, 100, 16, 3.0), 26},
        // ... but lanes that spend much of their time waiting for a processor (other work on the
        // machine) stop growing, and shrink once that is most of it.
        TunerCase{"queuing_longer_than_waiting_on_io_stops_growth", 8, 2, sample(4.8, true, 100, 8, 4.0), 8},
        TunerCase{"waiting_on_io_longer_than_queuing_grows", 8, 2, sample(4.1, true, 100, 8, 3.7), 32},
        TunerCase{"running_longer_than_waiting_on_io_stops_growth", 8, 8, sample(4.4, true, 100, 8, 0.4), 8},
        TunerCase{"queuing_most_of_the_time_shrinks", 8, 2, sample(6.8, true, 100, 8, 6.0), 5},
        TunerCase{"queuing_never_shrinks_below_the_processors", 2, 2, sample(1.9, true, 100, 2, 1.5), 2},
        // Lanes just added start threads, counters and helpers: that is no reason to shrink.
        TunerCase{"starting_lanes_do_not_shrink", 8, 2, settling(sample(6.8, true, 100, 8, 6.0)), 8},
        TunerCase{"starting_lanes_filling_the_processors_do_not_shrink", 12, 2, settling(sample(1.9, true, 100, 12)), 12},
        TunerCase{"starting_lanes_that_wait_grow_on", 4, 2, settling(sample(0.2, true)), 16},
        TunerCase{"more_processors_than_lanes_allowed", 40, 64, sample(60, true, 100, 40), 32}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TunerNetworkTest, ALocalOrMissingFolderIsNotOnANetwork)
{
    QTemporaryDir dir;
    EXPECT_FALSE(CountingLanesTuner::onNetwork(QFile::encodeName(dir.path()).constData()));
    EXPECT_FALSE(CountingLanesTuner::onNetwork(QFile::encodeName(dir.filePath("missing")).constData()));
    EXPECT_FALSE(CountingLanesTuner::onNetwork(""));
}

// The QCoreApplication is SearchCoreTest.cpp's, in the same test program.

// Files that keep a lane waiting without using a processor, as on a slow share.
class AutomaticLanesTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    CounterLog log;

    void SetUp() override
    {
        for (int i = 0; i < 400; ++i) {
            QFile f(dir.filePath(QString("w%1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 2 ? "pdf" : "tif")));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("wait:30");
        }
    }
    // Runs a search with the given lane setting, returning the most lanes seen counting.
    int run(int setting, int64_t &pages)
    {
        search::SearchCore core(textCounters(log));
        core.setLanes(setting);
        bool done = false;
        int most = 0;
        QObject::connect(&core, &search::SearchCore::finished, &core, [&](const search::SearchSummary &s) {
            pages = s.tiffPages + s.pdfPages;
            done = true;
        });
        QObject::connect(&core, &search::SearchCore::fileCounted, &core,
                         [&](const search::CountedFile &) { most = std::max(most, core.lanesNow()); });
        core.start(QFile::encodeName(dir.path()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
        return most;
    }
};

TEST_F(AutomaticLanesTest, WaitingLanesGrowBeyondTheProcessors)
{
    const int processors = std::clamp(QThread::idealThreadCount(), 1, 8);
    int64_t pages = 0;
    const int most = run(0, pages);
    EXPECT_EQ(pages, 400);
    EXPECT_GT(most, processors);
    EXPECT_LE(most, CountingLanesTuner::kMostLanes);
    std::lock_guard lock(log.mutex);
    EXPECT_GT(int(log.callThreads.size()), processors);
}

TEST_F(AutomaticLanesTest, AFixedCountIsExactlyThatCount)
{
    int64_t pages = 0;
    EXPECT_EQ(run(3, pages), 3);
    EXPECT_EQ(pages, 400);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.callThreads.size(), 3u);
}

}  // namespace
