#pragma once
// Page counts remembered between searches and between programs, in one SQLite file
// ($XDG_CACHE_HOME/quirewell/page-counts.sqlite). A count answers again only for the same path
// with the same device, inode, size, modification and change time (to the nanosecond) and the
// same counter (its library file and version); anything else is counted afresh.
//
// The cache never decides a result: when it cannot be opened, read or written (missing folder
// that cannot be made, no permission, locked by another program, damaged) the search counts
// without it and says so in one line. Safe to call from several threads; several programs may
// share the file (WAL, busy timeout).

#include "FolderListing.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

struct sqlite3;

namespace search {

// The stamp of the file a path names (links followed), or nothing when it cannot be read or is
// not a regular file. The same reading as FileFacts::stamp.
std::optional<FileStamp> stampOf(const QByteArray &path);

// The wall clock in nanoseconds since 1970, the clock file times are written in.
int64_t wallClockNs();

class PageCountCache
{
public:
    struct Options
    {
        QString file;                 // empty: defaultLocation()
        int busyTimeoutMs = 5000;     // how long to wait for another program's write
        int maxAgeDays = 90;          // entries not seen for longer are dropped
        int64_t maxBytes = 256 << 20; // over this the least recently seen quarter is dropped
        // Where the one-line complaints go; empty: standard error.
        std::function<void(const QString &)> warn;
        // Seconds since 1970 for "seen" and pruning; empty: the wall clock.
        std::function<int64_t()> now;
    };

    PageCountCache();
    explicit PageCountCache(Options options);
    // Writes what is still pending.
    ~PageCountCache();
    PageCountCache(const PageCountCache &) = delete;
    PageCountCache &operator=(const PageCountCache &) = delete;

    static QString defaultLocation();

    // A new search: a cache that failed during the last one is tried again (and may complain
    // again, once). Never waits.
    void beginSearch();
    // The cached answer for the file, if it is still valid.
    std::optional<int32_t> lookup(const QByteArray &path, const FileStamp &stamp, const QByteArray &counter);
    // Remembers an answer (written in batches: see flush and wantsWrite).
    void store(const QByteArray &path, const FileStamp &stamp, const QByteArray &counter, int32_t pages);
    // Writes the pending answers now.
    void flush();
    // Enough answers are held back to be worth a transaction, and none is being written: the
    // caller should flush() at a moment when it holds nothing up. Never waits.
    bool wantsWrite() const;
    // Whether idle() has anything to do: answers to write, or a read snapshot held. Never waits.
    bool hasIdleWork() const;
    // The searching has paused or ended: writes the pending answers and lets go of the snapshot
    // the lookups read from, so other programs' writes are seen and their checkpoints complete.
    void idle();

    // Whether a count may be remembered: a definite answer about the file's content, the file
    // unchanged during the count, and not changed within 2 s before it began (it may still have
    // been being written: a later write in the same clock tick would leave the stamp as it was).
    static bool storable(int32_t code, const FileStamp &before, const FileStamp &after, int64_t countStartNs);

private:
    struct Pending
    {
        QByteArray path;
        FileStamp stamp;
        QByteArray counter;
        int32_t pages;
    };

    // With m_mutex held.
    bool ensureOpen();
    bool openFile(QString &why, bool &damaged);
    void close();
    void setAside();
    void fail(const QString &why, int rc);
    void prune();
    bool flushLocked();
    void endRead();
    std::optional<int64_t> counterId(const QByteArray &identity, bool create);
    int64_t today() const;

    Options m_options;
    mutable std::mutex m_mutex;
    sqlite3 *m_db = nullptr;
    std::atomic<bool> m_failed{false};  // for the rest of this search
    // Set by beginSearch without waiting for a lane that holds the mutex (it may be waiting on
    // another program's lock); taken up at the next call.
    std::atomic<bool> m_retry{false};
    std::atomic<bool> m_hasPending{false};
    std::atomic<size_t> m_pendingCount{0};
    std::atomic<bool> m_writing{false};  // a transaction is being written
    // Lookups share one read transaction, up to kLookupsPerRead of them: beginning and ending
    // one takes file locks, which cost more than the lookup itself.
    std::atomic<bool> m_reading{false};
    int m_lookupsInRead = 0;
    bool m_pruned = false;
    std::map<QByteArray, int64_t> m_counterIds;
    std::set<QByteArray> m_unknownCounters;
    // Guarded by m_pendingMutex, never held while waiting on the file.
    mutable std::mutex m_pendingMutex;
    std::vector<Pending> m_pending;
    std::vector<QByteArray> m_seen;  // paths whose entry was used, to mark seen today
    struct Statements;
    std::unique_ptr<Statements> m_st;
};

}  // namespace search
