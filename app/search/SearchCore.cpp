#include "SearchCore.h"

#include "CountingLanes.h"
#include "FileNames.h"
#include "FolderListing.h"
#include "SearchFilters.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
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

struct FolderId
{
    uint64_t dev;
    uint64_t ino;
    bool operator==(const FolderId &) const = default;
};

// Runs on its own thread; shares only the pipeline, the run and the options' state.
class Walk
{
public:
    Walk(std::shared_ptr<Pipeline> pipeline, std::shared_ptr<Run> run, std::shared_ptr<SharedOptions::State> options)
        : m_pipeline(std::move(pipeline)), m_run(std::move(run)), m_options(std::move(options))
    {
    }

    void operator()(const QByteArray &top)
    {
        searchFolder(top, true);
        Entry end;
        end.kind = Entry::End;
        append(std::move(end));
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

    void searchFolder(const QByteArray &folder, bool top)
    {
        if (cancelled())
            return;
        struct stat st {};
        if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (top)
                markTopFolderMissing(folder);
            return;  // gone or not a folder: it adds nothing, silently
        }
        const FolderId id{uint64_t(st.st_dev), uint64_t(st.st_ino)};
        if (std::find(m_openFolders.begin(), m_openFolders.end(), id) != m_openFolders.end())
            return;  // a link back into a folder we are inside: walking it again would never end

        // The files are taken as the listing returns them: the first rows of a huge folder do
        // not wait for the rest of its listing.
        FolderReader reader;
        if (!reader.open(folder)) {
            if (top)
                markTopFolderMissing(folder);
            return;  // unreadable: no message, the caller goes on with its next subfolder
        }
        if (!appendFolder(Entry::FolderStart, folder))
            return;
        bool listedAny = false;
        m_openFolders.push_back(id);
        const bool going = searchFiles(folder, reader, listedAny);
        if (reader.failed() && !listedAny) {
            // A folder that refuses its listing adds nothing and ends silently; the top one ends
            // the search as an empty one.
            m_openFolders.pop_back();
            if (top) {
                std::lock_guard lock(m_pipeline->mutex);
                m_run->topFolderMissing = true;
            }
            if (top)
                appendFolder(Entry::FolderFinish, folder);
            return;
        }
        // "Include subfolders" as it stands once this folder's own files are done.
        if (going && waitForRoom() && options().includeSubfolders)
            searchSubfolders(folder);
        m_openFolders.pop_back();
        appendFolder(Entry::FolderFinish, folder);
    }

    // False when the search was cancelled.
    bool searchFiles(const QByteArray &folder, FolderReader &reader, bool &listedAny)
    {
        const QByteArray location = withoutTrailingSeparator(folder);
        if (!waitForRoom())
            return false;
        const PatternList patterns = ParsePatternList(options().filterText);
        FolderEntry entry;
        while (reader.next(entry)) {
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
            const FileFacts facts = readFacts(fullPath);
            file.fullPath = platform::pathToText(fullPath);
            file.nativePath = std::filesystem::path(fullPath.toStdString());
            file.folderPath = platform::pathToText(location);
            file.size = qint64(std::min<uint64_t>(facts.size, uint64_t(INT64_MAX)));
            file.created = facts.created;
            file.modified = facts.modified;
            file.accessed = facts.accessed;
            if (!PassesDateSizeFilter(file, now.criteria))
                continue;

            Entry listed;
            listed.kind = Entry::File;
            CountedFile &out = listed.file;
            out.path = fullPath;
            out.folder = location;
            out.name = entry.name;
            out.factsKnown = facts.known;
            out.size = facts.size;
            out.created = facts.created;
            out.modified = facts.modified;
            out.accessed = facts.accessed;
            out.type = fileTypeOf(entry.name);
            if (!append(std::move(listed)))
                return false;
        }
        return true;
    }

    void searchSubfolders(const QByteArray &folder)
    {
        std::vector<FolderEntry> entries;
        if (!listFolder(folder, entries))
            return;
        for (const FolderEntry &entry : entries) {
            if (entry.kind != EntryKind::Folder)
                continue;
            if (cancelled())
                return;
            searchFolder(joinPath(withoutTrailingSeparator(folder), entry.name), false);
        }
    }

    std::shared_ptr<Pipeline> m_pipeline;
    std::shared_ptr<Run> m_run;
    std::shared_ptr<SharedOptions::State> m_options;
    std::vector<FolderId> m_openFolders;  // the folders on the current path, to stop at links back
};

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
    }
    m_lanes->startThread([walk = Walk(m_pipeline, run, m_options.state()), folder]() mutable { walk(folder); });
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
