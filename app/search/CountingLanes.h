#pragma once
// Inside the search core: the state the walk, the counting lanes and the caller's thread share
// (one mutex guards all of it), and the lanes themselves.
//
// The walk appends entries in walk order; entries that need a page count become jobs. A lane
// takes the oldest job within the look-ahead window, counts it with its own counters and marks
// the entry ready. The caller's thread takes ready entries from the front only, so they come out
// in walk order however the lanes finish.

#include "CountingLanesTuner.h"
#include "PageCountCache.h"
#include "SearchCore.h"

#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace search::detail {

struct Entry
{
    enum Kind : uint8_t { FolderStart, File, FolderFinish, End };
    Kind kind = File;
    bool ready = true;  // false while the page count is outstanding
    CountedFile file;   // FolderStart/FolderFinish: only file.folder
};

struct Run
{
    explicit Run(uint64_t runId) : id(runId) {}
    const uint64_t id;
    bool cancelled = false;
    std::deque<Entry> entries;  // not yet taken by the caller's thread; front has seq headSeq
    uint64_t headSeq = 0;
    uint64_t filesQueued = 0;    // file entries appended so far
    uint64_t filesTaken = 0;     // file entries taken by the caller's thread
    uint64_t entriesSignalled = 0;
    struct Job
    {
        uint64_t seq;
        uint64_t fileIndex;
    };
    std::deque<Job> jobs;  // entries waiting for a lane, oldest first
    bool tiffCounterMissing = false, pdfCounterMissing = false;
    QString counterProblem;
    bool topFolderMissing = false;

    uint64_t nextSeq() const { return headSeq + entries.size(); }
    Entry &at(uint64_t seq) { return entries[size_t(seq - headSeq)]; }
};

struct Pipeline
{
    std::mutex mutex;
    std::condition_variable laneWake;     // a job, a retirement or shutdown
    std::condition_variable walkWake;     // room to list further, or a cancel
    std::condition_variable threadEnded;  // a lane or walk thread has returned
    std::shared_ptr<Run> run;             // the search in progress, if any
    std::shared_ptr<PageCountCache> cache;  // answers kept from earlier counts, if wanted
    // What the lanes did since the tuner last looked (measured for automatic lanes only).
    bool measuring = false;
    double laneSeconds = 0;
    int64_t filesDone = 0;
    bool onNetwork = false;               // the search's folder is on a network file system
    int lookahead = 8;                    // files counted ahead of the next one shown
    size_t walkAhead = 4096;              // entries listed ahead of the last one signalled
    // Posts a drain to the caller's thread; empty once the core is gone.
    std::function<void()> notify;
    bool drainPosted = false;

    // With the mutex held: the front entry is ready, so wake the caller's thread once. While it
    // is busy, further rows gather for its next batch.
    void notifyIfReady()
    {
        if (!drainPosted && notify && run && !run->entries.empty() && run->entries.front().ready) {
            drainPosted = true;
            notify();
        }
    }
    // With the mutex held: the job a lane may take now, if any.
    bool jobAvailable() const
    {
        return run && !run->cancelled && !run->jobs.empty()
               && run->jobs.front().fileIndex < run->filesTaken + uint64_t(lookahead);
    }
};

// Threads started by the core that are tracked until they return.
struct TrackedThread
{
    std::thread thread;
    bool ended = false;     // guarded by Pipeline::mutex
    bool detached = false;  // guarded by Pipeline::mutex
};

class CountingLanes
{
public:
    CountingLanes(std::shared_ptr<Pipeline> pipeline, SearchCore::FactoryMaker factory);
    // Retires every lane, aborts the calls in progress, waits a moment for the threads and leaves
    // the rest to end on their own.
    ~CountingLanes();
    CountingLanes(const CountingLanes &) = delete;
    CountingLanes &operator=(const CountingLanes &) = delete;

    // Makes the number of live lanes n (new lanes create their counters on first use), each
    // counting up to lookaheadPerLane files ahead of the next file the caller takes. Automatic:
    // n is where the count starts, and the lanes then follow the work (see CountingLanesTuner)
    // until the next setCount.
    void setCount(int n, int lookaheadPerLane, bool automatic = false);
    // Lanes counting now, leaving ones not included.
    int count() const;
    // Starts fn on a tracked thread (the walk).
    void startThread(std::function<void()> fn);
    // Retires the lanes counting for run and aborts their calls; idle lanes stay.
    void abandonBusy(const Run *run);

private:
    struct Lane;
    // The lane's thread; it shares only the pipeline and its own lane with anyone.
    static void laneLoop(std::shared_ptr<Pipeline> pipeline, std::shared_ptr<Lane> lane,
                         SearchCore::FactoryMaker factory);
    void track(std::function<void()> fn);
    void reapEnded();
    // With the pipeline's mutex held: adds or lets go of lanes until n count.
    void resize(int n, std::vector<std::shared_ptr<Lane>> &added);
    // Looks at what the lanes did lately and resizes them (automatic mode).
    void tune();
    // The threads of the lanes running now.
    std::vector<CountingLanesTuner::Thread> laneThreads() const;

    std::shared_ptr<Pipeline> m_pipeline;
    SearchCore::FactoryMaker m_factory;
    std::vector<std::shared_ptr<Lane>> m_live;
    std::vector<std::shared_ptr<TrackedThread>> m_threads;
    bool m_automatic = false;
    int m_lookaheadPerLane = 1;
    CountingLanesTuner m_tuner;
    std::chrono::steady_clock::time_point m_lastTune;
    LaneSample m_sample;  // what the lanes did since the tuner last decided
    bool m_startedForNetwork = false;
    std::unique_ptr<QTimer> m_tuneTimer;
};

// Threads left running by cores that are gone (their work abandoned).
int detachedBusyThreads();

}  // namespace search::detail
