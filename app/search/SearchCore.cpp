#include "SearchCore.h"

#include "CountingLanes.h"
#include "FileNames.h"
#include "FolderListing.h"
#include "SearchFilters.h"
#include "WalkAhead.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <sys/stat.h>

namespace search {

// ---------------------------------------------------------------- options

struct SharedOptions::State
{
    mutable std::mutex mutex;
    SearchOptions options;
};

SharedOptions::SharedOptions() : m_state(std::make_shared<State>()) {}

void SharedOptions::set(const SearchOptions &options)
{
    std::lock_guard lock(m_state->mutex);
    m_state->options = options;
}

SearchOptions SharedOptions::get() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->options;
}

// ---------------------------------------------------------------- the walk

namespace {

using detail::Entry;
using detail::Pipeline;
using detail::Run;

using detail::WalkAhead;
using detail::WalkKey;
using detail::WalkReport;

// Runs on its own thread; shares only the pipeline, the run, the options' state, the listings
// read ahead and its report.
class Walk
{
public:
    Walk(std::shared_ptr<Pipeline> pipeline, std::shared_ptr<Run> run, std::shared_ptr<SharedOptions::State> options,
         std::shared_ptr<WalkAhead> ahead, std::shared_ptr<WalkReport> report)
        : m_pipeline(std::move(pipeline))
        , m_run(std::move(run))
        , m_options(std::move(options))
        , m_ahead(std::move(ahead))
        , m_report(std::move(report))
    {
    }

    void operator()(const QByteArray &top)
    {
        m_top = top;
        {
            const bool network = detail::CountingLanesTuner::onNetwork(top.constData());
            std::lock_guard lock(m_pipeline->mutex);
            if (m_pipeline->run == m_run)
                m_pipeline->onNetwork = network;
        }
        searchFolder(top, WalkKey(), true);
        // A folder deleted while its listing was read ahead still gave all its rows: say so.
        if (m_topKnown && !m_gone && !cancelled())
            topStillThere();
        m_ahead->stop();
        appendEnd();
    }

    // Named files: the date and size windows apply, the name filter and the hidden rule do not
    // (the user picked these files by name).
    void operator()(const QList<QByteArray> &files)
    {
        for (const QByteArray &path : files) {
            if (!waitForRoom())
                return;
            const SearchOptions now = options();
            const qsizetype slash = path.lastIndexOf('/');
            const QByteArray name = slash < 0 ? path : path.mid(slash + 1);
            const QByteArray location = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
            const FileFacts facts = readFacts(path);
            FoundFile file;
            file.name = platform::pathToDisplay(name);
            file.hidden = name.startsWith('.');
            setFacts(file, path, location, facts);
            if (!PassesDateSizeFilter(file, now.criteria))
                continue;
            if (!append(listedFile(path, location, name, facts)))
                return;
        }
        m_ahead->stop();
        appendEnd();
    }

private:
    SearchOptions options() const
    {
        std::lock_guard lock(m_options->mutex);
        return m_options->options;
    }

    bool cancelled()
    {
        std::lock_guard lock(m_pipeline->mutex);
        return m_run->cancelled;
    }
    bool ended() { return m_gone || cancelled(); }

    // Waits while the walk is as far ahead of the signalled entries as it may go; false once
    // cancelled. Called before the criteria are read, so they are read as late as allowed.
    bool waitForRoom(std::unique_lock<std::mutex> &lock)
    {
        m_pipeline->walkWake.wait(lock, [this] {
            return m_run->cancelled || m_run->nextSeq() - m_run->entriesSignalled < m_pipeline->walkAhead;
        });
        return !m_run->cancelled;
    }
    bool waitForRoom()
    {
        std::unique_lock lock(m_pipeline->mutex);
        return waitForRoom(lock);
    }

    // Appends in walk order; false once cancelled.
    bool append(Entry entry)
    {
        std::unique_lock lock(m_pipeline->mutex);
        if (!waitForRoom(lock))
            return false;
        const bool count = entry.kind == Entry::File && entry.file.type != FileType::Other;
        entry.ready = !count;
        const uint64_t seq = m_run->nextSeq();
        const uint64_t fileIndex = m_run->filesQueued;
        if (entry.kind == Entry::File)
            ++m_run->filesQueued;
        m_run->entries.push_back(std::move(entry));
        if (count) {
            m_run->jobs.push_back({seq, fileIndex});
            m_pipeline->laneWake.notify_one();
        }
        m_pipeline->notifyIfReady();
        return true;
    }

    void appendEnd()
    {
        Entry end;
        end.kind = Entry::End;
        append(std::move(end));
    }

    // What the date and size tests read.
    static void setFacts(FoundFile &file, const QByteArray &fullPath, const QByteArray &location, const FileFacts &facts)
    {
        file.fullPath = platform::pathToText(fullPath);
        file.nativePath = std::filesystem::path(fullPath.toStdString());
        file.folderPath = platform::pathToText(location);
        file.size = qint64(std::min<uint64_t>(facts.size, uint64_t(INT64_MAX)));
        file.created = facts.created;
        file.modified = facts.modified;
        file.accessed = facts.accessed;
    }

    static Entry listedFile(const QByteArray &fullPath, const QByteArray &location, const QByteArray &name,
                            const FileFacts &facts)
    {
        Entry listed;
        listed.kind = Entry::File;
        CountedFile &out = listed.file;
        out.path = fullPath;
        out.folder = location;
        out.name = name;
        out.factsKnown = facts.known;
        out.size = facts.size;
        out.created = facts.created;
        out.modified = facts.modified;
        out.accessed = facts.accessed;
        out.type = fileTypeOf(name);
        out.stamp = facts.stamp;
        return listed;
    }

    bool appendFolder(Entry::Kind kind, const QByteArray &folder)
    {
        Entry entry;
        entry.kind = kind;
        entry.file.folder = folder;
        return append(std::move(entry));
    }

    void markTopFolderMissing(const QByteArray &folder)
    {
        {
            std::lock_guard lock(m_pipeline->mutex);
            m_run->topFolderMissing = true;
        }
        // The search ends as an empty one, so the previous search's rows do not stay on show.
        if (appendFolder(Entry::FolderStart, folder))
            appendFolder(Entry::FolderFinish, folder);
    }

    // Asked whenever something inside it could not be read: when the searched folder itself is
    // gone (deleted, or the share unmounted so that the path names another folder), the search
    // ends, and nothing below it is reported one by one.
    bool topStillThere()
    {
        struct stat st {};
        int error = 0;
        if (::stat(m_top.constData(), &st) != 0)
            error = errno;
        else if (!S_ISDIR(st.st_mode) || FolderId{uint64_t(st.st_dev), uint64_t(st.st_ino)} != m_topId)
            error = ENOENT;
        if (!error)
            return true;
        m_gone = true;
        std::lock_guard lock(m_report->mutex);
        m_report->topGone = error;
        return false;
    }

    void reportUnread(const QByteArray &folder, int error)
    {
        if (!topStillThere())
            return;
        std::lock_guard lock(m_report->mutex);
        m_report->unread.emplace_back(folder, error);
    }

    void searchFolder(const QByteArray &folder, const WalkKey &key, bool top)
    {
        if (ended())
            return;
        const std::shared_ptr<WalkAhead::Folder> listing = m_ahead->open(folder, key);
        if (!listing)
            return;  // cancelled
        // Whatever happens below, the listings of this folder and its subfolders are let go.
        const std::unique_ptr<WalkAhead::Folder, std::function<void(WalkAhead::Folder *)>> release(
            listing.get(), [this](WalkAhead::Folder *f) { m_ahead->release(*f); });
        if (const int error = m_ahead->openError(*listing)) {
            if (top)
                markTopFolderMissing(folder);
            else
                reportUnread(folder, error);
            return;
        }
        const FolderId id = m_ahead->id(*listing);
        if (top) {
            m_topId = id;
            m_topKnown = true;
        }
        // Each folder once: a link to a folder walked before, a link back up or a second mount
        // of the same folder would list its files again and count their pages twice. The first
        // path met in walk order is the one shown.
        if (!m_visited.insert(id).second)
            return;

        if (!appendFolder(Entry::FolderStart, folder))
            return;
        bool listedAny = false;
        const bool going = searchFiles(folder, listing, listedAny);
        if (!going)
            return;
        if (const int error = m_ahead->listError(*listing)) {
            if (!listedAny) {
                // A folder that refuses its listing adds nothing; the top one ends the search as
                // an empty one.
                if (top) {
                    {
                        std::lock_guard lock(m_pipeline->mutex);
                        m_run->topFolderMissing = true;
                    }
                    appendFolder(Entry::FolderFinish, folder);
                } else {
                    reportUnread(folder, error);
                }
                return;
            }
            reportUnread(folder, error);  // what was listed stands
            if (m_gone)
                return;
        }
        // "Include subfolders" as it stands once this folder's own files are done.
        if (waitForRoom() && options().includeSubfolders)
            searchSubfolders(folder, listing, key);
        if (!m_gone)
            appendFolder(Entry::FolderFinish, folder);
    }

    // False when the search was cancelled or has ended.
    bool searchFiles(const QByteArray &folder, const std::shared_ptr<WalkAhead::Folder> &listing, bool &listedAny)
    {
        const QByteArray location = withoutTrailingSeparator(folder);
        if (!waitForRoom())
            return false;
        const PatternList patterns = ParsePatternList(options().filterText);
        FolderEntry entry;
        for (size_t i = 0; m_ahead->entry(listing, i, entry); ++i) {
            listedAny = true;
            if (entry.kind != EntryKind::File)
                continue;
            if (!waitForRoom())
                return false;
            // The criteria as they stand now, for this file.
            const SearchOptions now = options();
            FoundFile file;
            file.name = platform::pathToDisplay(entry.name);
            file.hidden = entry.name.startsWith('.');
            if (!PassesHiddenRule(file, now.showHiddenState))
                continue;
            if (!FilterMatchesEverything(now.filterText) && !MatchesAnyPattern(file.name, patterns))
                continue;
            const QByteArray fullPath = joinPath(folder, entry.name);
            const FileFacts facts = m_ahead->facts(*listing, i);
            // A file gone between listing and reading: perhaps the whole folder went.
            if (!facts.known && !topStillThere())
                return false;
            setFacts(file, fullPath, location, facts);
            if (!PassesDateSizeFilter(file, now.criteria))
                continue;

            if (!append(listedFile(fullPath, location, entry.name, facts)))
                return false;
        }
        return !cancelled();
    }

    void searchSubfolders(const QByteArray &folder, const std::shared_ptr<WalkAhead::Folder> &listing,
                          const WalkKey &key)
    {
        FolderEntry entry;
        for (size_t i = 0; m_ahead->entry(listing, i, entry); ++i) {
            if (entry.kind != EntryKind::Folder)
                continue;
            if (ended())
                return;
            WalkKey child = key;
            child.push_back(uint32_t(i));
            searchFolder(joinPath(withoutTrailingSeparator(folder), entry.name), child, false);
        }
    }

    std::shared_ptr<Pipeline> m_pipeline;
    std::shared_ptr<Run> m_run;
    std::shared_ptr<SharedOptions::State> m_options;
    std::shared_ptr<WalkAhead> m_ahead;
    std::shared_ptr<WalkReport> m_report;
    QByteArray m_top;
    FolderId m_topId;
    bool m_topKnown = false;
    bool m_gone = false;  // the searched folder went away: the walk has ended
    std::unordered_set<FolderId, FolderIdHash> m_visited;
};

// What the listing threads read ahead: the facts of files the walk will list as the options
// stand, and subfolders when it will enter them.
WalkAhead::Hints hintsFrom(const SharedOptions::State &state)
{
    SearchOptions now;
    {
        std::lock_guard lock(state.mutex);
        now = state.options;
    }
    WalkAhead::Hints hints;
    hints.subfolders = now.includeSubfolders;
    hints.wantsFacts = [patterns = ParsePatternList(now.filterText), everything = FilterMatchesEverything(now.filterText),
                        hidden = now.showHiddenState](const QByteArray &name) {
        FoundFile file;
        file.name = platform::pathToDisplay(name);
        file.hidden = name.startsWith('.');
        return PassesHiddenRule(file, hidden) && (everything || MatchesAnyPattern(file.name, patterns));
    };
    return hints;
}

int automaticLanes()
{
    return std::clamp(QThread::idealThreadCount(), 1, 8);
}

// Entries handed to the caller per turn of its event loop: rows arrive in batches, and input
// still gets in between.
constexpr uint64_t kBatch = 200;
constexpr qint64 kBatchMs = 10;

}  // namespace

// ---------------------------------------------------------------- the core

SearchCore::SearchCore(FactoryMaker factory, QObject *parent)
    : QObject(parent)
    , m_pipeline(std::make_shared<Pipeline>())
    , m_lanes(std::make_unique<detail::CountingLanes>(m_pipeline, std::move(factory)))
{
    // Called with the pipeline's mutex held, from any thread; cleared before this object goes.
    m_pipeline->notify = [this] {
        QMetaObject::invokeMethod(this, &SearchCore::drain, Qt::QueuedConnection);
    };
}

SearchCore::~SearchCore()
{
    if (m_walkAhead)
        m_walkAhead->stop();
    {
        std::lock_guard lock(m_pipeline->mutex);
        m_pipeline->notify = nullptr;
        if (m_pipeline->run)
            m_pipeline->run->cancelled = true;
        m_pipeline->run.reset();
        m_pipeline->walkWake.notify_all();
    }
    m_lanes.reset();
}

void SearchCore::setLanes(int lanes)
{
    m_laneSetting = std::max(lanes, 0);
}

int SearchCore::lanes() const
{
    return m_laneSetting > 0 ? m_laneSetting : automaticLanes();
}

int SearchCore::lanesNow() const
{
    return m_lanes->count();
}

void SearchCore::setPageCountCache(std::shared_ptr<PageCountCache> cache)
{
    m_cache = std::move(cache);
}

void SearchCore::setWalkAhead(int entries)
{
    std::lock_guard lock(m_pipeline->mutex);
    m_pipeline->walkAhead = size_t(std::max(entries, 1));
}

void SearchCore::setListingThreads(int threads)
{
    m_listingThreads = std::clamp(threads, 0, 32);
}

void SearchCore::setLookaheadPerLane(int files)
{
    m_lookaheadPerLane = std::max(files, 1);
}

int SearchCore::busyThreads()
{
    return detail::detachedBusyThreads();
}

void SearchCore::start(const QByteArray &folder)
{
    const std::shared_ptr<Run> run = beginRun();
    m_walkAhead = std::make_shared<detail::WalkAhead>([options = m_options.state()] { return hintsFrom(*options); });
    m_walkReport = std::make_shared<detail::WalkReport>();
    detail::WalkAhead::startThreads(m_walkAhead, m_listingThreads,
                                    [this](std::function<void()> fn) { m_lanes->startThread(std::move(fn)); });
    m_lanes->startThread([walk = Walk(m_pipeline, run, m_options.state(), m_walkAhead, m_walkReport),
                          folder]() mutable { walk(folder); });
}

void SearchCore::startFiles(const QList<QByteArray> &files)
{
    const std::shared_ptr<Run> run = beginRun();
    // Named files need no listing threads; the walk only stops its (idle) read-ahead at the end.
    m_walkAhead = std::make_shared<detail::WalkAhead>([options = m_options.state()] { return hintsFrom(*options); });
    m_walkReport = std::make_shared<detail::WalkReport>();
    m_lanes->startThread([walk = Walk(m_pipeline, run, m_options.state(), m_walkAhead, m_walkReport),
                          files]() mutable { walk(files); });
}

std::shared_ptr<detail::Run> SearchCore::beginRun()
{
    // A handler of finished may start a search of its own: that one is cancelled too.
    while (isRunning()) {
        cancel();
        finishRun(true);
    }
    m_summary = SearchSummary();
    m_cancelled = false;
    m_runId = ++m_lastRunId;
    auto run = std::make_shared<Run>(m_runId);
    m_lanes->setCount(lanes(), m_lookaheadPerLane, m_laneSetting == 0);
    if (m_cache)
        m_cache->beginSearch();
    {
        std::lock_guard lock(m_pipeline->mutex);
        m_pipeline->run = run;
        m_pipeline->cache = m_cache;
        m_pipeline->drainPosted = false;
        m_pipeline->onNetwork = false;
    }
    return run;
}

void SearchCore::cancel()
{
    if (!isRunning())
        return;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(m_pipeline->mutex);
        run = m_pipeline->run;
        if (!run || run->cancelled)
            return;  // already cancelled: finished is on its way
        run->cancelled = true;
        run->jobs.clear();
        m_pipeline->walkWake.notify_all();
    }
    m_cancelled = true;
    if (m_walkAhead)
        m_walkAhead->stop();
    m_lanes->abandonBusy(run.get());
    const uint64_t id = m_runId;
    QTimer::singleShot(0, this, [this, id] {
        if (m_runId == id)
            finishRun(true);
    });
}

void SearchCore::finishRun(bool cancelled)
{
    {
        std::lock_guard lock(m_pipeline->mutex);
        if (const std::shared_ptr<Run> &run = m_pipeline->run) {
            m_summary.tiffCounterMissing = run->tiffCounterMissing;
            m_summary.pdfCounterMissing = run->pdfCounterMissing;
            m_summary.counterProblem = run->counterProblem;
            m_summary.topFolderMissing = run->topFolderMissing;
        }
        m_pipeline->run.reset();
        m_pipeline->laneWake.notify_all();
    }
    if (m_walkAhead)
        m_walkAhead->stop();
    if (m_walkReport) {
        std::lock_guard lock(m_walkReport->mutex);
        m_summary.topFolderGone = m_walkReport->topGone;
        m_summary.unreadFolders.clear();
        for (const auto &[path, error] : m_walkReport->unread)
            m_summary.unreadFolders.push_back({path, errorText(error)});
    }
    m_walkAhead.reset();
    m_walkReport.reset();
    m_summary.cancelled = cancelled;
    m_runId = 0;
    emit finished(m_summary);
}

void SearchCore::drain()
{
    const uint64_t id = m_runId;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(m_pipeline->mutex);
        m_pipeline->drainPosted = false;
        run = m_pipeline->run;
        if (!run || run->cancelled || run->id != id)
            return;
    }

    // A bounded batch per turn of the event loop, so input still gets in between.
    QElapsedTimer clock;
    clock.start();
    uint64_t signalled = 0;
    for (;;) {
        Entry entry;
        {
            std::lock_guard lock(m_pipeline->mutex);
            if (run->entries.empty() || !run->entries.front().ready)
                break;
            entry = std::move(run->entries.front());
            run->entries.pop_front();
            ++run->headSeq;
            if (entry.kind == Entry::File) {
                ++run->filesTaken;
                m_pipeline->laneWake.notify_all();  // the look-ahead window moved by one file
            }
        }
        ++signalled;
        switch (entry.kind) {
        case Entry::FolderStart:
            emit folderStarted(entry.file.folder);
            break;
        case Entry::File: {
            const CountedFile &f = entry.file;
            ++m_summary.files;
            if (f.type != FileType::Other) {
                if (f.pages < 0)
                    ++m_summary.failed;
                else
                    (f.type == FileType::Tiff ? m_summary.tiffPages : m_summary.pdfPages) += f.pages;
            }
            emit fileCounted(f);
            break;
        }
        case Entry::FolderFinish:
            emit folderFinished(entry.file.folder);
            break;
        case Entry::End:
            finishRun(false);
            return;
        }
        // A handler may cancel or start another search; nothing more of this one is signalled.
        if (m_runId != id || m_cancelled)
            return;
        if (signalled >= kBatch || clock.elapsed() >= kBatchMs)
            break;
    }

    std::lock_guard lock(m_pipeline->mutex);
    if (m_pipeline->run != run)
        return;
    // Only now may the walk list further: what it lists next sees the criteria as the handlers
    // left them.
    run->entriesSignalled += signalled;
    m_pipeline->walkWake.notify_all();
    m_pipeline->notifyIfReady();  // what is ready by now, at the next turn
}

}  // namespace search
