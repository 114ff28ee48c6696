#include "WalkAhead.h"

#include <algorithm>

namespace search::detail {

namespace {

// Entries one listing step reads before it hands them over: the walk's first rows of a huge
// folder do not wait for its whole listing, and no step keeps a thread for long.
constexpr size_t kEntriesPerStep = 256;
// Files whose facts one task reads.
constexpr size_t kFactsPerChunk = 32;
// Beyond this many listed entries kept for the walk, the threads only work on what the walk
// needs first: a tree of millions of files is not held in memory whole.
constexpr size_t kEntriesAhead = 20000;

enum FactsState : uint8_t { NotWanted, Wanted, Reading, Read };

bool hasPrefix(const WalkKey &key, const WalkKey &prefix)
{
    return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

}  // namespace

struct WalkAhead::Folder
{
    QByteArray path;
    WalkKey key;
    bool registered = true;  // false once released: nobody needs it any more
    bool busy = false;       // a thread is in a listing step
    bool opened = false;     // the open was tried: openError or id holds
    bool walkWants = false;  // the walk has asked for it: never put aside
    bool deferred = false;   // put aside: a folder opened already by another path
    bool complete = false;
    bool expanded = false;   // its subfolders are registered
    int openError = 0;
    int listError = 0;
    FolderId id;
    std::unique_ptr<FolderReader> reader;
    struct Item
    {
        FolderEntry entry;
        uint8_t facts = NotWanted;
        FileFacts value;
    };
    std::deque<Item> items;
};

WalkAhead::WalkAhead(HintSource hints) : m_hints(std::move(hints)) {}

WalkAhead::~WalkAhead() = default;

void WalkAhead::startThreads(const std::shared_ptr<WalkAhead> &self, int n, const ThreadStarter &start)
{
    {
        std::lock_guard lock(self->m_mutex);
        self->m_threads = std::max(n, 0);
    }
    for (int i = 0; i < n; ++i)
        start([self] { self->threadLoop(); });
}

void WalkAhead::stop()
{
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_tasks.clear();
    m_changed.notify_all();
    m_work.notify_all();
}

bool WalkAhead::stopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stop;
}

size_t WalkAhead::foldersHeld() const
{
    std::lock_guard lock(m_mutex);
    return m_folders.size();
}

void WalkAhead::addTask(const std::shared_ptr<Folder> &folder, int kind, size_t chunk)
{
    if (m_threads == 0 || m_stop || !folder->registered)
        return;
    m_tasks.insert(Task{folder->key, kind, chunk, folder});
    m_work.notify_one();
}

void WalkAhead::eraseTask(const std::shared_ptr<Folder> &folder, int kind, size_t chunk)
{
    m_tasks.erase(Task{folder->key, kind, chunk, nullptr});
}

std::shared_ptr<WalkAhead::Folder> WalkAhead::registerFolder(const QByteArray &path, const WalkKey &key)
{
    auto folder = std::make_shared<Folder>();
    folder->path = path;
    folder->key = key;
    m_folders[key] = folder;
    addTask(folder, 0, 0);
    return folder;
}

void WalkAhead::threadLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Beyond the limit only facts are read ahead: they take no more memory. The walk lists
        // what it needs next itself.
        m_work.wait(lock, [this] {
            return m_stop
                   || (!m_tasks.empty() && (m_entriesHeld <= kEntriesAhead || m_tasks.begin()->kind == 1));
        });
        if (m_stop)
            return;
        const Task task = *m_tasks.begin();
        m_tasks.erase(m_tasks.begin());
        if (task.kind == 0)
            listStep(lock, task.folder, false);
        else
            readFactsChunk(lock, task.folder, task.chunk);
    }
}

void WalkAhead::listStep(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder, bool byWalk)
{
    Folder &f = *folder;
    if (f.busy || f.complete || !f.registered)
        return;
    if (f.deferred && !byWalk)
        return;
    f.busy = true;
    const bool mustOpen = !f.reader;
    const bool firstOpen = !f.opened;
    const bool ahead = m_threads > 0;
    lock.unlock();
    // Without listing threads nobody reads ahead: no hints needed.
    const Hints hints = ahead && m_hints ? m_hints() : Hints();

    FolderId id;
    int openError = 0;
    std::unique_ptr<FolderReader> reader;
    if (mustOpen) {
        reader = std::make_unique<FolderReader>();
        if (reader->open(f.path))
            id = reader->id();
        else
            openError = reader->error() ? reader->error() : EIO;
    }

    lock.lock();
    if (mustOpen) {
        f.opened = true;
        if (openError) {
            if (firstOpen)
                f.openError = openError;
            f.complete = true;
            if (!firstOpen)
                f.listError = openError;  // it was there a moment ago: now its listing fails
            f.busy = false;
            m_changed.notify_all();
            return;
        }
        if (firstOpen)
            f.id = id;
        // A folder the threads have opened already by another path is put aside: the walk
        // takes it only when this path comes first in walk order. A link back up would
        // otherwise be listed ahead without end.
        if (firstOpen && !byWalk && !f.walkWants && !m_seen.insert(id).second) {
            f.deferred = true;
            f.busy = false;
            m_changed.notify_all();
            return;
        }
        m_seen.insert(id);
        f.deferred = false;
        f.reader = std::move(reader);
    }
    lock.unlock();

    std::vector<Folder::Item> items;
    items.reserve(kEntriesPerStep);
    bool end = false;
    FolderEntry entry;
    while (items.size() < kEntriesPerStep) {
        if (!f.reader->next(entry)) {
            end = true;
            break;
        }
        Folder::Item item;
        item.entry = std::move(entry);
        if (item.entry.kind == EntryKind::File && hints.wantsFacts && hints.wantsFacts(item.entry.name))
            item.facts = Wanted;
        items.push_back(std::move(item));
    }

    lock.lock();
    const size_t first = f.items.size();
    for (Folder::Item &item : items)
        f.items.push_back(std::move(item));
    if (f.registered)
        m_entriesHeld += items.size();
    for (size_t i = first; i < f.items.size(); ++i)
        if (f.items[i].facts == Wanted)
            addTask(folder, 1, i / kFactsPerChunk);
    if (end) {
        f.complete = true;
        f.listError = f.reader->error();
        f.reader.reset();
        if (hints.subfolders && ahead && !f.expanded && f.registered) {
            f.expanded = true;
            for (size_t i = 0; i < f.items.size(); ++i) {
                if (f.items[i].entry.kind != EntryKind::Folder)
                    continue;
                WalkKey key = f.key;
                key.push_back(uint32_t(i));
                if (!m_folders.count(key))
                    registerFolder(joinPath(withoutTrailingSeparator(f.path), f.items[i].entry.name), key);
            }
        }
    } else {
        addTask(folder, 0, 0);
    }
    f.busy = false;
    m_changed.notify_all();
}

void WalkAhead::readFactsChunk(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder,
                               size_t chunk)
{
    Folder &f = *folder;
    const size_t end = std::min(f.items.size(), (chunk + 1) * kFactsPerChunk);
    for (size_t i = chunk * kFactsPerChunk; i < end && !m_stop && f.registered; ++i)
        if (f.items[i].facts == Wanted)
            readOneFact(lock, f, i);
}

void WalkAhead::readOneFact(std::unique_lock<std::mutex> &lock, Folder &f, size_t i)
{
    f.items[i].facts = Reading;
    const QByteArray path = joinPath(f.path, f.items[i].entry.name);
    lock.unlock();
    FileFacts facts = readFacts(path);
    lock.lock();
    f.items[i].value = std::move(facts);
    f.items[i].facts = Read;
    m_changed.notify_all();
}

std::shared_ptr<WalkAhead::Folder> WalkAhead::open(const QByteArray &path, const WalkKey &key)
{
    std::unique_lock lock(m_mutex);
    std::shared_ptr<Folder> folder;
    if (auto it = m_folders.find(key); it != m_folders.end() && it->second->path == path)
        folder = it->second;
    else
        folder = registerFolder(path, key);
    folder->walkWants = true;
    while (!folder->opened || folder->busy) {
        if (m_stop)
            return nullptr;
        if (folder->busy) {
            m_changed.wait(lock);
            continue;
        }
        eraseTask(folder, 0, 0);
        listStep(lock, folder, true);
    }
    return m_stop ? nullptr : folder;
}

int WalkAhead::openError(const Folder &folder) const
{
    std::lock_guard lock(m_mutex);
    return folder.openError;
}

FolderId WalkAhead::id(const Folder &folder) const
{
    std::lock_guard lock(m_mutex);
    return folder.id;
}

int WalkAhead::listError(const Folder &folder) const
{
    std::lock_guard lock(m_mutex);
    return folder.listError;
}

bool WalkAhead::entry(const std::shared_ptr<Folder> &folder, size_t i, FolderEntry &out)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stop)
            return false;
        if (i < folder->items.size()) {
            out = folder->items[i].entry;
            return true;
        }
        if (folder->complete || !folder->registered)
            return false;
        if (folder->busy) {
            m_changed.wait(lock);
            continue;
        }
        // Nobody is on it: the walk reads the next step itself rather than wait in the queue.
        eraseTask(folder, 0, 0);
        listStep(lock, folder, true);
    }
}

FileFacts WalkAhead::facts(Folder &folder, size_t i)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        Folder::Item &item = folder.items[i];
        if (item.facts == Read)
            return item.value;
        if (item.facts == Reading && !m_stop) {
            m_changed.wait(lock);
            continue;
        }
        readOneFact(lock, folder, i);
    }
}

void WalkAhead::release(const Folder &folder)
{
    std::lock_guard lock(m_mutex);
    const WalkKey key = folder.key;
    for (auto it = m_folders.lower_bound(key); it != m_folders.end() && hasPrefix(it->first, key);) {
        Folder &f = *it->second;
        f.registered = false;
        m_entriesHeld -= f.items.size();
        it = m_folders.erase(it);
    }
    for (auto it = m_tasks.lower_bound(Task{key, 0, 0, nullptr}); it != m_tasks.end() && hasPrefix(it->key, key);)
        it = m_tasks.erase(it);
    m_work.notify_all();
}

}  // namespace search::detail
