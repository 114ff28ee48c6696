#include "CountingLanes.h"

#include <algorithm>
#include <atomic>
#include <chrono>

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
    const Run *busyRun = nullptr;
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

void CountingLanes::setCount(int n, int lookaheadPerLane)
{
    std::vector<std::shared_ptr<Lane>> added;
    {
        std::lock_guard lock(m_pipeline->mutex);
        while (int(m_live.size()) > n) {
            m_live.back()->retired = true;
            m_live.pop_back();
        }
        while (int(m_live.size()) < n) {
            m_live.push_back(std::make_shared<Lane>());
            added.push_back(m_live.back());
        }
        m_pipeline->lookahead = lookaheadPerLane * std::max(n, 1);
        m_pipeline->laneWake.notify_all();
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

    std::unique_lock lock(pipeline->mutex);
    for (;;) {
        pipeline->laneWake.wait(lock, [&] { return lane->retired || pipeline->jobAvailable(); });
        if (lane->retired)
            break;
        const std::shared_ptr<Run> run = pipeline->run;
        std::vector<Run::Job> batch{run->jobs.front()};
        run->jobs.pop_front();
        if (pdfPrefetches && run->at(batch.front().seq).file.type == FileType::Pdf)
            takeMorePdfJobs(*pipeline, *run, batch);
        std::vector<QByteArray> paths;
        std::vector<FileType> types;
        for (const Run::Job &job : batch) {
            paths.push_back(run->at(job.seq).file.path);
            types.push_back(run->at(job.seq).file.type);
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
        if (batch.size() > 1)
            pdf->prefetch(paths);

        for (size_t i = 0; i < batch.size(); ++i) {
            PageCounter *counter = types[i] == FileType::Tiff ? tiff.get() : types[i] == FileType::Pdf ? pdf.get() : nullptr;
            int32_t code = kCounterMissing;
            {
                // Abandoned while its counters were being made (an abort then found nothing to stop).
                std::lock_guard check(pipeline->mutex);
                if (lane->retired)
                    counter = nullptr;
            }
            if (counter) {
                const std::optional<int32_t> pages = counter->getPages(paths[i]);
                code = pages ? *pages : kCallFailed;
            }

            lock.lock();
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
        if (lane->retired)
            break;
    }
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
