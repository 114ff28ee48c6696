#pragma once
// Inside the search core: the folder listings the walk takes, listed and inspected ahead of it
// by a small pool of listing threads. On a file server every listing step and every file-status
// read is a round trip; several of them can be on their way at once, while the walk still takes
// every folder, entry and file's facts in its own order. What is not ready when the walk gets
// there it reads itself, or waits for the thread already reading it, so the walk never waits
// behind work queued for later folders.
//
// Each folder has a key, its place in walk order: the entry numbers from the top folder down
// (the top folder is the empty key). Keys in order are the walk's depth-first order, so the
// listing threads always take the work the walk will need first.

#include "FolderListing.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_set>
#include <vector>

namespace search::detail {

// What one walk could not read, shared with the core that reports it when the search ends.
struct WalkReport
{
    std::mutex mutex;
    std::vector<std::pair<QByteArray, int>> unread;  // folder, error number
    int topGone = 0;  // the searched folder went during the search: why (error number)
};

using WalkKey = std::vector<uint32_t>;

class WalkAhead
{
public:
    // What the options say as they stand: whether a file's facts are worth reading ahead (the
    // walk will list it), and whether subfolders are worth listing ahead.
    struct Hints
    {
        std::function<bool(const QByteArray &name)> wantsFacts;
        bool subfolders = false;
    };
    using HintSource = std::function<Hints()>;
    using ThreadStarter = std::function<void(std::function<void()>)>;

    struct Folder;

    explicit WalkAhead(HintSource hints);
    ~WalkAhead();
    WalkAhead(const WalkAhead &) = delete;
    WalkAhead &operator=(const WalkAhead &) = delete;

    // Starts n listing threads through start. The threads share only this object (held by
    // shared_ptr). Without threads the walk reads everything itself, one step after another.
    static void startThreads(const std::shared_ptr<WalkAhead> &self, int n, const ThreadStarter &start);
    // Ends the listing threads' work; every wait of the walk returns at once.
    void stop();
    bool stopped() const;

    // The folder at key, opened (or found unopenable). Null once stopped.
    std::shared_ptr<Folder> open(const QByteArray &path, const WalkKey &key);
    // 0, or the system's error number when the folder could not be opened.
    int openError(const Folder &folder) const;
    FolderId id(const Folder &folder) const;
    // Entry i of the listing; false at its end (or once stopped).
    bool entry(const std::shared_ptr<Folder> &folder, size_t i, FolderEntry &out);
    // After the last entry: 0, or the error number that ended the listing early.
    int listError(const Folder &folder) const;
    // The facts of file entry i (read ahead, or now).
    FileFacts facts(Folder &folder, size_t i);
    // The walk is done with the folder and everything below it: their listings go.
    void release(const Folder &folder);

    // Listings kept for the walk (tests).
    size_t foldersHeld() const;

private:
    struct Task
    {
        WalkKey key;
        int kind;  // 0: a listing step, 1: reading facts
        size_t chunk;
        std::shared_ptr<Folder> folder;
        bool operator<(const Task &other) const
        {
            if (key != other.key)
                return key < other.key;
            if (kind != other.kind)
                return kind < other.kind;
            return chunk < other.chunk;
        }
    };

    void threadLoop();
    // With the lock held (released while reading): one step of the folder's listing.
    void listStep(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder, bool byWalk);
    void readFactsChunk(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder, size_t chunk);
    void readOneFact(std::unique_lock<std::mutex> &lock, Folder &folder, size_t i);
    void addTask(const std::shared_ptr<Folder> &folder, int kind, size_t chunk);
    void eraseTask(const std::shared_ptr<Folder> &folder, int kind, size_t chunk);
    std::shared_ptr<Folder> registerFolder(const QByteArray &path, const WalkKey &key);

    HintSource m_hints;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;  // a step or a fact finished, or stop
    std::condition_variable m_work;     // a task, or stop
    bool m_stop = false;
    int m_threads = 0;
    std::map<WalkKey, std::shared_ptr<Folder>> m_folders;
    std::set<Task> m_tasks;
    std::unordered_set<FolderId, FolderIdHash> m_seen;  // folders the listing threads opened
    size_t m_entriesHeld = 0;
};

}  // namespace search::detail
