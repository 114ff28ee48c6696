#include "CountingLanes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>

#include <QThread>

namespace search::detail {

namespace {

std::atomic<int> g_detachedBusy{0};

// How long a core being destroyed waits for aborted calls to return before it leaves them.
constexpr auto kShutdownGrace = std::chrono::seconds(3);

// A lane that takes a PDF takes up to this many more PDFs waiting near it and announces them to
// its counter together, so the helper process counts them back to back instead of waiting for a
// round trip per file. Among the next kPdfScan jobs only, so the other lanes still find work.
constexpr size_t kPdfBatch = 16;
constexpr size_t kPdfScan = 64;

// How often automatic lanes look at what they wait on: often enough that a search of a second
// or two on a share reaches its lane count early.
constexpr std::chrono::milliseconds kTuneEvery{50};
// The first look comes sooner, to start as for a share once the walk knows it is on one.
constexpr std::chrono::milliseconds kFirstLook{10};
// A lane without work writes the answers the cache holds back once the search is over, or once
// the lull has lasted this long: a lull between two files is no reason for a transaction.
constexpr std::chrono::milliseconds kIdleWriteAfter{50};


// With the pipeline's mutex held: moves further PDF jobs within the look-ahead window from the
// queue into batch, oldest first.
void takeMorePdfJobs(const Pipeline &pipeline, Run &run, std::vector<Run::Job> &batch)
{
    size_t scanned = 0;
    for (auto it = run.jobs.begin(); it != run.jobs.end() && batch.size() < kPdfBatch && scanned < kPdfScan; ++scanned) {
        if (it->fileIndex >= run.filesTaken + uint64_t(pipeline.lookahead))
            break;
        if (run.at(it->seq).file.type == FileType::Pdf) {
            batch.push_back(*it);
            it = run.jobs.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

int detachedBusyThreads()
{
    return g_detachedBusy.load();
}

struct CountingLanes::Lane
{
    bool busy = false;     // inside a counter call (Pipeline::mutex)
    bool retired = false;  // takes no further job (Pipeline::mutex)
    bool leaving = false;  // finishes what it holds, then ends (Pipeline::mutex)
    bool ended = false;    // its loop has returned (Pipeline::mutex)
    bool started = false;  // thread below is known (Pipeline::mutex)
    CountingLanesTuner::Thread thread;
    const Run *busyRun = nullptr;
    // While busy: its time on files up to here is in Pipeline::laneSeconds (Pipeline::mutex).
    std::chrono::steady_clock::time_point measuredTo;
    // The counters in use, for abort() from another thread. The lane sets and clears them under
    // abortMutex, and never while a call is in progress, so an abort never meets a freed counter.
    std::mutex abortMutex;
    PageCounter *tiff = nullptr;
    PageCounter *pdf = nullptr;

    void abortCalls()
    {
        std::lock_guard lock(abortMutex);
        if (tiff)
            tiff->abort();
        if (pdf)
            pdf->abort();
    }
};

CountingLanes::CountingLanes(std::shared_ptr<Pipeline> pipeline, SearchCore::FactoryMaker factory)
    : m_pipeline(std::move(pipeline))
    , m_factory(std::move(factory))
{
}

CountingLanes::~CountingLanes()
{
    std::vector<std::shared_ptr<Lane>> busy;
    {
        std::lock_guard lock(m_pipeline->mutex);
        for (const std::shared_ptr<Lane> &lane : m_live) {
            lane->retired = true;
            if (lane->busy)
                busy.push_back(lane);
        }
        m_pipeline->laneWake.notify_all();
        m_pipeline->walkWake.notify_all();
    }
    m_live.clear();
    for (const std::shared_ptr<Lane> &lane : busy)
        lane->abortCalls();

    std::unique_lock lock(m_pipeline->mutex);
    const auto deadline = std::chrono::steady_clock::now() + kShutdownGrace;
    m_pipeline->threadEnded.wait_until(lock, deadline, [this] {
        for (const auto &t : m_threads)
            if (!t->ended)
                return false;
        return true;
    });
    for (const std::shared_ptr<TrackedThread> &t : m_threads) {
        if (t->ended) {
            continue;
        }
        // Still inside a call that cannot be interrupted: it holds its own pipeline and lane
        // and signals nothing once it returns.
        t->detached = true;
        ++g_detachedBusy;
        t->thread.detach();
    }
    lock.unlock();
    for (const std::shared_ptr<TrackedThread> &t : m_threads)
        if (t->thread.joinable())
            t->thread.join();
}

void CountingLanes::track(std::function<void()> fn)
{
    reapEnded();
    auto tracked = std::make_shared<TrackedThread>();
    std::shared_ptr<Pipeline> pipeline = m_pipeline;
    // The thread may outlive this object: it holds the pipeline and its own record.
    tracked->thread = std::thread([pipeline, tracked, fn = std::move(fn)] {
        fn();
        std::lock_guard lock(pipeline->mutex);
        tracked->ended = true;
        if (tracked->detached)
            --g_detachedBusy;
        pipeline->threadEnded.notify_all();
    });
    m_threads.push_back(std::move(tracked));
}

void CountingLanes::reapEnded()
{
    std::vector<std::shared_ptr<TrackedThread>> ended;
    {
        std::lock_guard lock(m_pipeline->mutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if ((*it)->ended) {
                ended.push_back(*it);
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const std::shared_ptr<TrackedThread> &t : ended)
        t->thread.join();
}

void CountingLanes::startThread(std::function<void()> fn)
{
    track(std::move(fn));
}

void CountingLanes::resize(int n, std::vector<std::shared_ptr<Lane>> &added)
{
    // Lanes that left and ended are forgotten; leaving ones stay within reach of an abort.
    m_live.erase(std::remove_if(m_live.begin(), m_live.end(), [](const auto &lane) { return lane->ended; }),
                 m_live.end());
    int counting = 0;
    for (const std::shared_ptr<Lane> &lane : m_live)
        counting += !lane->leaving;
    for (auto it = m_live.rbegin(); it != m_live.rend() && counting > n; ++it) {
        if (!(*it)->leaving) {
            (*it)->leaving = true;
            --counting;
        }
    }
    for (; counting < n; ++counting) {
        m_live.push_back(std::make_shared<Lane>());
        added.push_back(m_live.back());
    }
    m_pipeline->lookahead = m_lookaheadPerLane * std::max(n, 1);
    m_pipeline->laneWake.notify_all();
}

void CountingLanes::setCount(int n, int lookaheadPerLane, bool automatic)
{
    std::vector<std::shared_ptr<Lane>> added;
    {
        std::lock_guard lock(m_pipeline->mutex);
        m_lookaheadPerLane = lookaheadPerLane;
        m_automatic = automatic;
        m_pipeline->measuring = automatic;
        m_pipeline->laneSeconds = 0;
        m_pipeline->filesDone = 0;
        resize(n, added);
    }
    for (const std::shared_ptr<Lane> &lane : added)
        track([pipeline = m_pipeline, lane, factory = m_factory] { laneLoop(pipeline, lane, factory); });
    if (automatic) {
        m_tuner.busySince(laneThreads());  // what lanes and helpers did before is not this search's work
        m_lastTune = std::chrono::steady_clock::now();
        m_sample = LaneSample();
        m_sample.settling = true;
        m_startedForNetwork = false;
        if (!m_tuneTimer) {
            m_tuneTimer = std::make_unique<QTimer>();
            QObject::connect(m_tuneTimer.get(), &QTimer::timeout, m_tuneTimer.get(), [this] { tune(); });
        }
        m_tuneTimer->start(kFirstLook);
    } else if (m_tuneTimer) {
        m_tuneTimer->stop();
    }
}

int CountingLanes::count() const
{
    std::lock_guard lock(m_pipeline->mutex);
    int counting = 0;
    for (const std::shared_ptr<Lane> &lane : m_live)
        counting += !lane->leaving && !lane->retired;
    return counting;
}

std::vector<CountingLanesTuner::Thread> CountingLanes::laneThreads() const
{
    std::vector<CountingLanesTuner::Thread> threads;
    std::lock_guard lock(m_pipeline->mutex);
    for (const std::shared_ptr<Lane> &lane : m_live)
        if (lane->started && !lane->ended)
            threads.push_back(lane->thread);
    return threads;
}

void CountingLanes::tune()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_tuneTimer->intervalAsDuration() != kTuneEvery)
        m_tuneTimer->setInterval(kTuneEvery);
    // Samples too small to judge by add up until one is not.
    LaneSample &sample = m_sample;
    sample.elapsed += std::chrono::duration<double>(now - m_lastTune).count();
    m_lastTune = now;
    const CountingLanesTuner::Busy busy = m_tuner.busySince(laneThreads());
    sample.cpuSeconds += busy.seconds;
    sample.queuedSeconds += busy.queued;
    std::vector<std::shared_ptr<Lane>> added;
    {
        std::lock_guard lock(m_pipeline->mutex);
        if (!m_pipeline->run || m_pipeline->run->cancelled) {
            // Idle: nothing to learn until the next search.
            m_tuneTimer->stop();
            return;
        }
        int counting = 0;
        for (const std::shared_ptr<Lane> &lane : m_live)
            counting += !lane->leaving && !lane->retired;
        int next = counting;
        if (m_pipeline->onNetwork && !m_startedForNetwork) {
            // Known once the walk has looked at the folder: start as for a share, and judge
            // from there.
            m_startedForNetwork = true;
            next = std::max(counting, CountingLanesTuner::remoteStart(QThread::idealThreadCount()));
        }
        // Lanes amid a batch (a batch of PDFs may take a while) count their time so far.
        for (const std::shared_ptr<Lane> &lane : m_live)
            if (lane->busy && lane->measuredTo < now) {
                m_pipeline->laneSeconds += std::chrono::duration<double>(now - lane->measuredTo).count();
                lane->measuredTo = now;
            }
        sample.laneSeconds += m_pipeline->laneSeconds;
        sample.files += m_pipeline->filesDone;
        sample.backlog = m_pipeline->jobAvailable();
        m_pipeline->laneSeconds = 0;
        m_pipeline->filesDone = 0;
        if (next != counting) {
            sample = LaneSample();
        } else if (CountingLanesTuner::judges(sample)) {
            next = CountingLanesTuner::next(counting, QThread::idealThreadCount(), sample);
            sample = LaneSample();
        }
        if (next != counting) {
            resize(next, added);
            sample.settling = next > counting;
        }
    }
    for (const std::shared_ptr<Lane> &lane : added)
        track([pipeline = m_pipeline, lane, factory = m_factory] { laneLoop(pipeline, lane, factory); });
}

void CountingLanes::abandonBusy(const Run *run)
{
    std::vector<std::shared_ptr<Lane>> busy;
    {
        std::lock_guard lock(m_pipeline->mutex);
        for (auto it = m_live.begin(); it != m_live.end();) {
            if ((*it)->busy && (*it)->busyRun == run) {
                (*it)->retired = true;
                busy.push_back(*it);
                it = m_live.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Outside the pipeline's lock: an abort may take a moment, and the lane must be able to
    // finish its call meanwhile.
    for (const std::shared_ptr<Lane> &lane : busy)
        lane->abortCalls();
}

void CountingLanes::laneLoop(std::shared_ptr<Pipeline> pipeline, std::shared_ptr<Lane> lane,
                             SearchCore::FactoryMaker factory)
{
    std::unique_ptr<PageCounterFactory> counters = factory ? factory() : makeComPageCounterFactory();
    std::unique_ptr<PageCounter> tiff, pdf;
    uint64_t preparedRun = 0;

    bool pdfPrefetches = false;

    const CountingLanesTuner::Thread self = CountingLanesTuner::Thread::current();
    std::unique_lock lock(pipeline->mutex);
    lane->thread = self;
    lane->started = true;
    const auto workOrEnd = [&] { return lane->retired || lane->leaving || pipeline->jobAvailable(); };
    for (;;) {
        if (!lane->retired && pipeline->cache && pipeline->cache->wantsWrite()) {
            // Written between two files, never while a file this lane holds keeps rows waiting:
            // the other lanes count on meanwhile.
            const std::shared_ptr<PageCountCache> writeCache = pipeline->cache;
            lock.unlock();
            writeCache->flush();
            lock.lock();
            continue;
        }
        if (!workOrEnd() && pipeline->cache && pipeline->cache->hasIdleWork()) {
            const bool going = pipeline->run && pipeline->laneWake.wait_for(lock, kIdleWriteAfter, [&] {
                return workOrEnd() || !pipeline->run;
            });
            if (going && pipeline->run)
                continue;  // work came first
            const std::shared_ptr<PageCountCache> idleCache = pipeline->cache;
            lock.unlock();
            idleCache->idle();
            lock.lock();
            continue;
        }
        pipeline->laneWake.wait(lock, workOrEnd);
        if (lane->retired || lane->leaving)
            break;
        const bool measuring = pipeline->measuring;
        lane->measuredTo = std::chrono::steady_clock::now();
        const std::shared_ptr<Run> run = pipeline->run;
        const std::shared_ptr<PageCountCache> cache = pipeline->cache;
        std::vector<Run::Job> batch{run->jobs.front()};
        run->jobs.pop_front();
        if (pdfPrefetches && run->at(batch.front().seq).file.type == FileType::Pdf)
            takeMorePdfJobs(*pipeline, *run, batch);
        std::vector<QByteArray> paths;
        std::vector<FileType> types;
        // The file as the walk read it: what a cached answer must match.
        std::vector<std::optional<FileStamp>> stamps;
        for (const Run::Job &job : batch) {
            paths.push_back(run->at(job.seq).file.path);
            types.push_back(run->at(job.seq).file.type);
            stamps.push_back(run->at(job.seq).file.stamp);
        }
        lane->busy = true;
        lane->busyRun = run.get();
        lock.unlock();

        // Counters live as long as the lane; one that could not be created is tried again once
        // per search (the component may have been registered meanwhile).
        if (preparedRun != run->id && counters) {
            bool tiffMissing = false, pdfMissing = false;
            QString problem;
            preparedRun = run->id;
            auto make = [&](CounterKind kind, std::unique_ptr<PageCounter> &slot, PageCounter *&shared, bool &missing,
                            const char *what) {
                if (slot)
                    return;
                std::unique_ptr<PageCounter> made = counters->create(kind);
                if (!made) {
                    missing = true;
                    const QString why = counters->lastCreateError();
                    if (problem.isEmpty() && !why.isEmpty())
                        problem = QString::fromLatin1(what) + QStringLiteral(": ") + why;
                    return;
                }
                std::lock_guard abortLock(lane->abortMutex);
                slot = std::move(made);
                shared = slot.get();
            };
            make(CounterKind::Tiff, tiff, lane->tiff, tiffMissing, "TIFF page counter");
            make(CounterKind::Pdf, pdf, lane->pdf, pdfMissing, "PDF page counter");
            pdfPrefetches = pdf && pdf->prefetches();
            if (tiffMissing || pdfMissing) {
                // Known before the count: a cancel during it still reports the missing counter.
                std::lock_guard reportLock(pipeline->mutex);
                run->tiffCounterMissing |= tiffMissing;
                run->pdfCounterMissing |= pdfMissing;
                if (run->counterProblem.isEmpty())
                    run->counterProblem = problem;
            }
        }
        const auto counterFor = [&](FileType type) {
            return type == FileType::Tiff ? tiff.get() : type == FileType::Pdf ? pdf.get() : nullptr;
        };
        // What the cache still knows is neither counted again nor announced.
        const size_t n = batch.size();
        std::vector<std::optional<int32_t>> known(n);
        std::vector<QByteArray> identities(n);
        std::vector<QByteArray> announce;
        for (size_t i = 0; i < n; ++i) {
            const PageCounter *counter = counterFor(types[i]);
            if (cache && counter) {
                identities[i] = counter->identity();
                if (!identities[i].isEmpty() && stamps[i])
                    known[i] = cache->lookup(paths[i], *stamps[i], identities[i]);
            }
            if (!known[i])
                announce.push_back(paths[i]);
        }
        // An announced file may be read as soon as it is announced.
        const int64_t batchStart = wallClockNs();
        if (announce.size() > 1)
            pdf->prefetch(announce);

        for (size_t i = 0; i < batch.size(); ++i) {
            PageCounter *counter = counterFor(types[i]);
            int32_t code = kCounterMissing;
            {
                // Abandoned while its counters were being made (an abort then found nothing to stop).
                std::lock_guard check(pipeline->mutex);
                if (lane->retired)
                    counter = nullptr;
            }
            if (counter && known[i]) {
                code = *known[i];
            } else if (counter) {
                const int64_t start = announce.size() > 1 ? batchStart : wallClockNs();
                const std::optional<int32_t> pages = counter->getPages(paths[i]);
                code = pages ? *pages : kCallFailed;
                if (cache && !identities[i].isEmpty() && stamps[i]) {
                    const std::optional<FileStamp> after = stampOf(paths[i]);
                    if (after && PageCountCache::storable(code, *stamps[i], *after, start))
                        cache->store(paths[i], *after, identities[i], code);
                }
            }

            lock.lock();
            if (measuring)
                ++pipeline->filesDone;
            if (!lane->retired && !run->cancelled) {
                Entry &entry = run->at(batch[i].seq);
                entry.file.pages = code;
                entry.ready = true;
                pipeline->notifyIfReady();
            }
            if (lane->retired) {
                // Files of this batch not counted yet go back to the other lanes, in order.
                if (!run->cancelled && pipeline->run == run)
                    for (size_t j = i + 1; j < batch.size(); ++j)
                        run->jobs.insert(std::upper_bound(run->jobs.begin(), run->jobs.end(), batch[j].seq,
                                                          [](uint64_t seq, const Run::Job &job) { return seq < job.seq; }),
                                         batch[j]);
                pipeline->laneWake.notify_all();
                break;
            }
            if (i + 1 < batch.size())
                lock.unlock();
        }
        lane->busy = false;
        lane->busyRun = nullptr;
        if (measuring) {
            pipeline->laneSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - lane->measuredTo).count();
        }
        if (lane->retired)
            break;
    }
    lane->ended = true;
    lock.unlock();

    // Released on this thread, where they were created; an abort can no longer reach them.
    {
        std::lock_guard abortLock(lane->abortMutex);
        lane->tiff = nullptr;
        lane->pdf = nullptr;
    }
    tiff.reset();
    pdf.reset();
    counters.reset();
}

}  // namespace search::detail
