#pragma once
// The search without widgets: walks a folder (and, when asked, its subfolders depth first),
// applies the criteria to every file as it lists it, counts TIFF and PDF pages in several lanes
// at once and hands back finished rows in walk order, with running totals.
//
// The walk runs on a thread of its own and the counting in lanes (threads), each lane with its
// own counter instances that it creates, calls and releases itself. The caller's thread only
// receives finished files: signals are emitted from its event loop, a bounded batch per turn,
// so it never waits on a folder or a file. Rows, totals and texts do not depend on the number
// of lanes.

#include "FileNames.h"
#include "PageCountCache.h"
#include "PageCounter.h"
#include "SearchCriteria.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace search {

// Everything the walk reads per file.
struct SearchOptions
{
    QString filterText = QStringLiteral("*.pdf,*.tif,*.tiff");
    int showHiddenState = Unticked;
    bool includeSubfolders = false;
    SearchCriteria criteria;  // the date and size windows
};

// The options as the user's controls hold them, shared with the walk: the window writes them
// whenever a control changes, the walk reads them as it goes (the filter when it enters a
// folder, the rest for every file, "include subfolders" when a folder's files are done).
class SharedOptions
{
public:
    SharedOptions();
    void set(const SearchOptions &options);
    SearchOptions get() const;

    struct State;
    std::shared_ptr<State> state() const { return m_state; }

private:
    std::shared_ptr<State> m_state;  // shared with walks that may outlive this object
};

using FileType = platform::PageFileType;

// The file type the page count comes from (see platform::pageFileTypeOf).
inline FileType fileTypeOf(const QByteArray &name) { return platform::pageFileTypeOf(name); }

// One listed file, in walk order.
struct CountedFile
{
    QByteArray path;    // exact bytes
    QByteArray folder;  // holding folder, no trailing separator
    QByteArray name;
    bool factsKnown = false;
    uint64_t size = 0;
    QDateTime created, modified, accessed;
    FileType type = FileType::Other;
    // >= 0 pages; < 0 a code of PageResult.h (kCounterMissing, kCallFailed included); meaningless
    // for FileType::Other.
    int32_t pages = 0;
    // The file as the walk read it, when it is a regular file: what a cached count must match.
    std::optional<FileStamp> stamp;
};

// A folder the walk could not open or list, and the system's reason.
struct UnreadFolder
{
    QByteArray path;  // exact bytes
    QString reason;
};

struct SearchSummary
{
    int64_t tiffPages = 0, pdfPages = 0;
    int64_t files = 0;   // files listed
    int64_t failed = 0;  // counted files whose count is negative
    bool cancelled = false;
    bool topFolderMissing = false;  // the folder searched could not be opened or listed
    // The folder searched went away during the search (deleted, unmounted): the search ended
    // there. ENOENT when it no longer exists, else the system's reason.
    int topFolderGone = 0;
    std::vector<UnreadFolder> unreadFolders;  // in walk order
    bool tiffCounterMissing = false, pdfCounterMissing = false;
    QString counterProblem;  // why a counter could not be created, in words (may be empty)
};

namespace detail {
struct Pipeline;
struct Run;
class CountingLanes;
class WalkAhead;
struct WalkReport;
}

class SearchCore : public QObject
{
    Q_OBJECT
public:
    using FactoryMaker = std::function<std::unique_ptr<PageCounterFactory>()>;

    // factory: makes one PageCounterFactory per lane, called on the lane's thread. Empty: the real
    // components through the runtime.
    explicit SearchCore(FactoryMaker factory = {}, QObject *parent = nullptr);
    // Stops the work at once; lanes still inside a counter call are asked to abort and given a
    // moment, then left to finish on their own (they touch nothing of this object).
    ~SearchCore() override;

    SharedOptions &options() { return m_options; }

    // Counting lanes: 0 = automatic (starts at the processors, at most 8, then follows the work:
    // up to 32 while the lanes mostly wait on I/O). Takes effect at the next start.
    void setLanes(int lanes);
    int lanes() const;
    // Lanes counting at the moment (automatic lanes change during a search).
    int lanesNow() const;
    // Answers kept from earlier counts (null: count everything). Takes effect at the next start.
    void setPageCountCache(std::shared_ptr<PageCountCache> cache);

    // How many entries the walk may list ahead of the last one signalled (at least 1).
    void setWalkAhead(int entries);
    // Threads that list folders and read file facts ahead of the walk (0: the walk reads each
    // itself, one after another). Takes effect at the next start.
    void setListingThreads(int threads);
    static constexpr int kDefaultListingThreads = 8;
    // How many files each lane may count ahead of the next row signalled (at least 1). Takes
    // effect at the next start.
    void setLookaheadPerLane(int files);

    // Starts a search of folder (bytes as given; "Searching" shows it so). A running search is
    // cancelled first: its finished(cancelled) is emitted before start returns.
    void start(const QByteArray &folder);
    // Starts a count of the given files, in their order, as if a walk had listed them: the date
    // and size windows apply, the name filter and the hidden rule do not. Signals as start does,
    // without folderStarted and folderFinished.
    void startFiles(const QList<QByteArray> &files);
    // Returns at once; finished(cancelled) follows from the event loop and nothing else of the
    // cancelled search is signalled. Files in a counter are abandoned and their results dropped.
    void cancel();
    bool isRunning() const { return m_runId != 0; }
    // The totals of the files signalled so far in this (or the last) search.
    const SearchSummary &progress() const { return m_summary; }

    // Lanes not yet finished with abandoned work (for a clean exit: see ~SearchCore).
    static int busyThreads();

signals:
    void folderStarted(const QByteArray &folder);  // "Searching <folder>"
    void fileCounted(const search::CountedFile &file);
    void folderFinished(const QByteArray &folder);
    void finished(const search::SearchSummary &summary);

private:
    std::shared_ptr<detail::Run> beginRun();
    void drain();
    void finishRun(bool cancelled);

    SharedOptions m_options;
    std::shared_ptr<detail::Pipeline> m_pipeline;
    std::unique_ptr<detail::CountingLanes> m_lanes;
    int m_laneSetting = 0;
    int m_listingThreads = kDefaultListingThreads;
    std::shared_ptr<detail::WalkAhead> m_walkAhead;  // the current search's
    std::shared_ptr<detail::WalkReport> m_walkReport;
    std::shared_ptr<PageCountCache> m_cache;
    // Far enough ahead that the lanes keep counting while the caller's thread is busy for a
    // moment (painting, another handler): with 8 files a lane, two lanes spent much of a search
    // waiting for it. Rows still come out in walk order.
    int m_lookaheadPerLane = 256;
    uint64_t m_runId = 0;  // 0 = idle
    uint64_t m_lastRunId = 0;
    bool m_cancelled = false;  // the current search was cancelled; finished is on its way
    SearchSummary m_summary;
};

}  // namespace search
