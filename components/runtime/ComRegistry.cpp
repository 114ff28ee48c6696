#include "ComRegistry.h"

#include "ComInternal.h"
#include "FileAccess.h"
#include "ProgramLayout.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct HKEY__ {
    std::string path; // "HKEY_CLASSES_ROOT\CLSID\{...}"
};

namespace {

constexpr LONG ERROR_KEY_DELETED = 1018;

// ---- where the store is ----

std::mutex g_pathMutex;
std::string g_storePath; // empty: the default
std::atomic<const comrt::HostLink*> g_host{nullptr};

size_t LocalStorePath(char* buf, size_t cap);

void ForwardStoreError(const char* text);

const comrt::HostLink g_thisHost = {sizeof(comrt::HostLink), &LocalStorePath, &ForwardStoreError};

std::string LocalPath()
{
    std::lock_guard lock(g_pathMutex);
    if (!g_storePath.empty())
        return g_storePath;
    return comrt::DefaultStorePath();
}

size_t LocalStorePath(char* buf, size_t cap)
{
    const std::string p = comrt::RegistryStorePath();
    if (buf && cap > 0) {
        const size_t n = std::min(p.size(), cap - 1);
        std::memcpy(buf, p.data(), n);
        buf[n] = 0;
    }
    return p.size();
}

// ---- the store in memory ----

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Sort key of a path: case folded, with '\' below every other character so a key's subkeys
// follow it directly.
std::string SortKey(const std::string& path)
{
    std::string k(path.size(), '\0');
    for (size_t i = 0; i < path.size(); ++i)
        k[i] = path[i] == '\\' ? '\x01' : Fold(path[i]);
    return k;
}

bool IsRootName(const std::string& s)
{
    return s == "HKEY_CLASSES_ROOT" || s == "HKEY_CURRENT_USER" || s == "HKEY_LOCAL_MACHINE";
}

// One line (or a line with its continuation lines) of a key. Lines the store does not understand
// (comments, other value types, anything malformed) are kept and written back byte for byte.
struct Item {
    bool isString = false; // a "name"="text" value
    bool named = false;    // the value name could be read (string values, other value types)
    std::string name;      // "" is the default value
    std::string data;      // the text of a string value
    std::string text;      // the bytes as read, line ends included; empty once changed
};

struct Section {
    std::string path;   // empty for a section the store does not understand
    std::string lead;   // the blank lines before the header, as read
    std::string header; // the header line as read; empty for a key created here
    std::vector<Item> items;

    bool opaque() const { return path.empty(); }
    const Item* value(const std::string& name) const
    {
        for (const Item& item : items)
            if (item.isString && comrt::internal::IEquals(item.name, name))
                return &item;
        return nullptr;
    }
    // Sets a string value: replaces the first value of that name (whatever its type), drops any
    // other of that name, or adds it after the key's last value. True when anything changed.
    bool set(const std::string& name, const std::string& data)
    {
        size_t first = items.size();
        size_t last = 0;
        bool anyNamed = false;
        for (size_t i = 0; i < items.size(); ++i) {
            if (!items[i].named)
                continue;
            anyNamed = true;
            last = i;
            if (first == items.size() && comrt::internal::IEquals(items[i].name, name))
                first = i;
        }
        if (first < items.size()) {
            Item& item = items[first];
            bool changed = !(item.isString && item.data == data && item.name == name);
            if (changed) {
                item = Item{true, true, name, data, {}};
            }
            for (size_t i = items.size(); i-- > first + 1;) {
                if (items[i].named && comrt::internal::IEquals(items[i].name, name)) {
                    items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                }
            }
            return changed;
        }
        const size_t at = anyNamed ? last + 1 : 0;
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), Item{true, true, name, data, {}});
        return true;
    }
    bool erase(const std::string& name)
    {
        return std::erase_if(items, [&](const Item& item) {
                   return item.named && comrt::internal::IEquals(item.name, name);
               }) > 0;
    }
    void clearValues()
    {
        std::erase_if(items, [](const Item& item) { return item.named; });
    }
};

struct Store {
    std::string preamble; // the header line and whatever came before the first key, as read
    std::string eol = "\n"; // line end of lines written here: the header line's
    std::vector<Section> sections; // in file order
    std::map<std::string, size_t> index; // SortKey -> keys among sections

    void reindex()
    {
        index.clear();
        for (size_t i = 0; i < sections.size(); ++i)
            if (!sections[i].opaque())
                index.emplace(SortKey(sections[i].path), i);
    }
    Section* find(const std::string& path)
    {
        auto it = index.find(SortKey(path));
        return it == index.end() ? nullptr : &sections[it->second];
    }
    const Section* find(const std::string& path) const
    {
        auto it = index.find(SortKey(path));
        return it == index.end() ? nullptr : &sections[it->second];
    }
    // A new key goes before the first key that sorts after it, so a sorted file stays sorted.
    void insertKey(const std::string& path)
    {
        const std::string k = SortKey(path);
        auto next = index.upper_bound(k);
        const size_t at = next == index.end() ? sections.size() : next->second;
        Section s;
        s.path = path;
        sections.insert(sections.begin() + static_cast<std::ptrdiff_t>(at), std::move(s));
        reindex();
    }
    // Creates the key and every missing parent below the root; true when anything was new.
    bool create(const std::string& path)
    {
        bool created = false;
        size_t pos = path.find('\\');
        while (true) {
            const std::string prefix = pos == std::string::npos ? path : path.substr(0, pos);
            if (prefix.find('\\') != std::string::npos && !find(prefix)) {
                insertKey(prefix);
                created = true;
            }
            if (pos == std::string::npos)
                break;
            pos = path.find('\\', pos + 1);
        }
        return created;
    }
    // A key listed without its parents implies them: each missing one is added where create()
    // would put it, all in one pass (a store with many such keys costs no more than sorting).
    void addMissingParents()
    {
        std::map<std::string, std::string> missing; // SortKey -> path
        for (const Section& s : sections) {
            if (s.opaque())
                continue;
            for (size_t pos = s.path.find('\\', s.path.find('\\') + 1); pos != std::string::npos;
                 pos = s.path.find('\\', pos + 1)) {
                const std::string prefix = s.path.substr(0, pos);
                const std::string k = SortKey(prefix);
                if (!index.count(k))
                    missing.emplace(k, prefix);
            }
        }
        if (missing.empty())
            return;
        std::vector<std::vector<Section>> before(sections.size() + 1);
        for (const auto& [k, path] : missing) {
            auto next = index.upper_bound(k);
            Section s;
            s.path = path;
            before[next == index.end() ? sections.size() : next->second].push_back(std::move(s));
        }
        std::vector<Section> merged;
        merged.reserve(sections.size() + missing.size());
        for (size_t i = 0; i <= sections.size(); ++i) {
            for (Section& s : before[i])
                merged.push_back(std::move(s));
            if (i < sections.size())
                merged.push_back(std::move(sections[i]));
        }
        sections = std::move(merged);
        reindex();
    }
    bool isBelow(const std::string& sortKey, const std::string& parentSortKey) const
    {
        return sortKey.size() > parentSortKey.size() &&
               sortKey.compare(0, parentSortKey.size(), parentSortKey) == 0 &&
               sortKey[parentSortKey.size()] == '\x01';
    }
    // Removes every key below path (or below the root when path is a root name).
    bool removeBelow(const std::string& path)
    {
        const std::string k = SortKey(path);
        const size_t before = sections.size();
        std::erase_if(sections, [&](const Section& s) {
            return !s.opaque() && isBelow(SortKey(s.path), k);
        });
        reindex();
        return sections.size() != before;
    }
    // Removes the key's subkeys (and the key itself unless keepSelf). True when it existed.
    bool removeTree(const std::string& path, bool keepSelf)
    {
        if (!find(path))
            return false;
        removeBelow(path);
        if (keepSelf) {
            find(path)->clearValues();
        } else {
            sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(index[SortKey(path)]));
            reindex();
        }
        return true;
    }
    void removeKey(const std::string& path)
    {
        auto it = index.find(SortKey(path));
        if (it == index.end())
            return;
        sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(it->second));
        reindex();
    }
    std::vector<std::string> children(const std::string& path) const
    {
        std::vector<std::string> out;
        const std::string prefix = SortKey(path) + '\x01';
        for (auto it = index.lower_bound(prefix);
             it != index.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            const std::string rest = sections[it->second].path.substr(path.size() + 1);
            if (rest.find('\\') == std::string::npos)
                out.push_back(rest);
        }
        return out;
    }
};

// ---- text form ----

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& line, size_t& pos, std::string* out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < line.size()) {
            c = line[pos++];
            if (c == 'n')
                c = '\n';
            else if (c == 'r')
                c = '\r';
        }
        out->push_back(c);
    }
    return false;
}

std::string FormatValue(const Item& item, const std::string& eol)
{
    return (item.name.empty() ? std::string("@") : "\"" + Escape(item.name) + "\"") + "=\"" +
           Escape(item.data) + "\"" + eol;
}

std::string Serialize(const Store& store)
{
    std::string text = store.preamble.empty() ? std::string("REGEDIT4\n") : store.preamble;
    const auto endLine = [&] {
        if (!text.empty() && text.back() != '\n')
            text += store.eol;
    };
    for (const Section& section : store.sections) {
        if (section.header.empty()) {
            endLine();
            text += store.eol + "[" + section.path + "]" + store.eol;
        } else {
            text += section.lead;
            text += section.header;
        }
        for (const Item& item : section.items) {
            if (!item.text.empty()) {
                text += item.text;
            } else {
                endLine();
                text += FormatValue(item, store.eol);
            }
        }
    }
    return text;
}

// The line without its line end.
std::string Bare(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return std::string(line);
}

// A line (with no continuation) that is empty, white space or a ';' comment.
bool IsBlankOrComment(std::string_view text)
{
    const std::string line = Bare(text);
    const size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ||
           (line[first] == ';' && text.find('\n') + 1 >= text.size());
}

// Reads `"name"=` or `@=` at the start of a value line; pos ends after the '='.
bool ReadValueName(const std::string& line, size_t& pos, std::string* name)
{
    pos = 0;
    name->clear();
    if (!line.empty() && line[0] == '@') {
        pos = 1;
    } else if (!ReadQuoted(line, pos, name)) {
        return false;
    }
    if (pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    return true;
}

LONG Parse(const std::string& text, Store* store, std::string* reason)
{
    // Split into lines that keep their line ends.
    std::vector<std::string_view> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.emplace_back(text.data() + pos, end - pos);
        pos = end;
    }
    bool header = false;
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t currentIndex = kNone;
    const auto currentSection = [&]() -> Section* {
        return currentIndex == kNone ? nullptr : &store->sections[currentIndex];
    };
    const auto appendRaw = [&](Item item) {
        if (Section* current = currentSection())
            current->items.push_back(std::move(item));
        else
            store->preamble += item.text;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Bare(lines[i]);
        if (!header) {
            store->preamble += lines[i];
            if (line.empty() || line[0] == ';')
                continue;
            if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") {
                *reason = "its first line is not REGEDIT4";
                return ERROR_BADDB;
            }
            header = true;
            if (lines[i].size() >= 2 && lines[i].substr(lines[i].size() - 2) == "\r\n")
                store->eol = "\r\n";
            continue;
        }
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.rfind(']');
            std::string path;
            if (close != std::string::npos && close >= 2)
                path = line.substr(1, close - 1);
            const std::string root = path.substr(0, path.find('\\'));
            const bool isKey = IsRootName(root) && path.find('\\') != std::string::npos;
            if (auto it = store->index.find(SortKey(path)); isKey && it != store->index.end()) {
                currentIndex = it->second; // a key listed twice: its values join the first
                continue;
            }
            Section section;
            section.header = std::string(lines[i]);
            // The blank lines and comments before a header go with it, so a key added or
            // removed in between keeps one blank line between every two keys and takes no
            // other key's comment with it.
            std::string lead;
            if (Section* previous = currentSection()) {
                while (!previous->items.empty() && !previous->items.back().named &&
                       IsBlankOrComment(previous->items.back().text)) {
                    lead.insert(0, previous->items.back().text);
                    previous->items.pop_back();
                }
            } else {
                std::string& pre = store->preamble;
                while (pre.size() >= 2 && pre.back() == '\n' &&
                       (pre[pre.size() - 2] == '\n' ||
                        (pre[pre.size() - 2] == '\r' && pre.size() >= 3 && pre[pre.size() - 3] == '\n'))) {
                    const size_t cut = pre[pre.size() - 2] == '\r' ? 2 : 1;
                    lead.insert(0, pre.substr(pre.size() - cut));
                    pre.resize(pre.size() - cut);
                }
            }
            section.lead = lead;
            if (isKey)
                section.path = path;
            store->sections.push_back(std::move(section));
            currentIndex = store->sections.size() - 1;
            if (isKey)
                store->index.emplace(SortKey(path), currentIndex);
            continue;
        }
        Section* current = currentSection();
        Item item;
        item.text = std::string(lines[i]);
        size_t p = 0;
        std::string name;
        const bool hasName = ReadValueName(line, p, &name);
        std::string value;
        if (current && !current->opaque() && hasName && ReadQuoted(line, p, &value) &&
            line.find_first_not_of(" \t", p) == std::string::npos) {
            // A value listed twice: the later one counts; the earlier is kept as written.
            for (Item& earlier : current->items)
                if (earlier.isString && comrt::internal::IEquals(earlier.name, name))
                    earlier.isString = false;
            item.isString = true;
            item.named = true;
            item.name = name;
            item.data = value;
            appendRaw(std::move(item));
            continue;
        }
        // Anything else is kept as it is, with its continuation lines ("hex:01,\" ...).
        item.named = hasName && current && !current->opaque();
        item.name = name;
        std::string last = line;
        while (!last.empty() && last.back() == '\\' && i + 1 < lines.size()) {
            ++i;
            item.text += lines[i];
            last = Bare(lines[i]);
        }
        appendRaw(std::move(item));
    }
    if (!header && !text.empty()) {
        // Only blank lines and comments: an empty store that keeps them.
        bool onlyComments = true;
        for (std::string_view l : lines) {
            const std::string b = Bare(l);
            if (!b.empty() && b[0] != ';')
                onlyComments = false;
        }
        if (!onlyComments) {
            *reason = "its first line is not REGEDIT4";
            return ERROR_BADDB;
        }
        store->preamble += "REGEDIT4\n";
    }
    store->addMissingParents();
    return ERROR_SUCCESS;
}

thread_local comrt::internal::ThreadText t_storeError;

void ForwardStoreError(const char* text)
{
    t_storeError.set(text ? text : "");
}

// Remembers why the store could not be used, here and in the process that loaded this library.
void SetStoreError(const std::string& text)
{
    t_storeError.set(text);
    const comrt::HostLink* host = g_host.load();
    if (host && host->structSize >= sizeof(comrt::HostLink) && host->storeError &&
        host->storeError != &ForwardStoreError)
        host->storeError(text.c_str());
}

// A store far beyond any real one is not read into memory.
constexpr size_t kMaxStoreBytes = 16u << 20;

std::atomic<unsigned> g_storeLoads{0};

LONG Load(const std::string& file, Store* store)
{
    g_storeLoads.fetch_add(1);
    std::string text;
    std::string reason;
    // The store says which libraries run: one that others could rewrite is not believed.
    const comrt::CheckedFile checked(file);
    switch (checked.outcome()) {
    case comrt::CheckedFile::Outcome::Missing:
        return ERROR_SUCCESS;
    case comrt::CheckedFile::Outcome::Unsafe:
        SetStoreError("refusing to use the registration store " + file + ": " + checked.reason());
        return ERROR_CANTREAD;
    case comrt::CheckedFile::Outcome::Failed:
        SetStoreError("cannot read the registration store " + file + ": " + checked.reason());
        return ERROR_CANTREAD;
    case comrt::CheckedFile::Outcome::Open:
        break;
    }
    if (comrt::ReadCheckedFile(checked, kMaxStoreBytes, &text, &reason) != comrt::ReadResult::Ok) {
        SetStoreError("cannot read the registration store " + file + ": " + reason);
        return ERROR_CANTREAD;
    }
    const LONG rc = Parse(text, store, &reason);
    if (rc != ERROR_SUCCESS) {
        *store = Store{};
        SetStoreError("the registration store " + file + " is damaged: " + reason);
    }
    return rc;
}

LONG Save(const std::string& file, const Store& store)
{
    std::string error;
    // A store name that is a link may have been planted to have the store written elsewhere.
    if (!comrt::ReplaceFileContents(file, Serialize(store), &error, comrt::LinkPolicy::Refuse,
                                    0644)) {
        SetStoreError(error);
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// The parsed store of the last read, reused while the file is unchanged (same file, size,
// modification and change time), so creating objects does not re-read the store each time.
struct StoreCache {
    bool valid = false;
    std::string file;
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    LONG rc = ERROR_SUCCESS;
    std::string error;
    std::shared_ptr<const Store> store;
};
std::mutex g_cacheMutex;
StoreCache g_cache;

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::shared_ptr<const Store> CachedStore(const std::string& file, LONG* rc)
{
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    std::lock_guard lock(g_cacheMutex);
    StoreCache& c = g_cache;
    if (c.valid && c.file == file && c.exists == exists &&
        (!exists || (c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
                     SameTime(c.mtime, st.st_mtim) && SameTime(c.ctime, st.st_ctim)))) {
        *rc = c.rc;
        if (c.rc != ERROR_SUCCESS)
            SetStoreError(c.error);
        return c.store;
    }
    auto store = std::make_shared<Store>();
    *rc = Load(file, store.get());
    c = StoreCache{};
    c.valid = true;
    c.file = file;
    c.exists = exists;
    if (exists) {
        c.dev = st.st_dev;
        c.ino = st.st_ino;
        c.size = st.st_size;
        c.mtime = st.st_mtim;
        c.ctime = st.st_ctim;
    }
    c.rc = *rc;
    c.error = *rc == ERROR_SUCCESS ? std::string() : t_storeError.str();
    c.store = std::move(store);
    return c.store;
}

// An exclusive advisory lock beside the store for one read-modify-write.
class StoreLock {
public:
    explicit StoreLock(const std::string& file)
    {
        // Never through a link or into a FIFO someone may have put there.
        m_fd = ::open((file + ".lock").c_str(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~StoreLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int m_fd = -1;
};

// Serialises this process's own store changes (flock is per open file, not per thread).
std::recursive_mutex g_writeMutex;

// An open batch of this thread's changes: the store is read and locked once, written once.
struct Batch {
    std::string file;
    std::unique_ptr<StoreLock> lock;
    Store store;
    LONG loadError = ERROR_SUCCESS;
    std::string loadReason;
    bool dirty = false;
    bool discarded = false;
    int depth = 0;
};
thread_local Batch* t_batch = nullptr;

template <class Fn>
LONG Modify(Fn&& change)
{
    if (Batch* b = t_batch) {
        if (b->loadError != ERROR_SUCCESS) {
            SetStoreError(b->loadReason);
            return b->loadError;
        }
        bool changed = false;
        const LONG rc = change(b->store, changed);
        b->dirty = b->dirty || changed;
        return rc;
    }
    const std::string file = comrt::RegistryStorePath();
    std::lock_guard guard(g_writeMutex);
    StoreLock lock(file);
    Store store;
    LONG rc = Load(file, &store);
    if (rc != ERROR_SUCCESS)
        return rc;
    bool changed = false;
    rc = change(store, changed);
    if (rc == ERROR_SUCCESS && changed)
        rc = Save(file, store);
    return rc;
}

// The store as it is now (this thread's batch when one is open); null with *rc on failure.
std::shared_ptr<const Store> Read(LONG* rc)
{
    if (Batch* b = t_batch) {
        *rc = b->loadError;
        if (b->loadError != ERROR_SUCCESS) {
            SetStoreError(b->loadReason);
            return nullptr;
        }
        return std::shared_ptr<const Store>(std::shared_ptr<void>(), &b->store);
    }
    auto store = CachedStore(comrt::RegistryStorePath(), rc);
    return *rc == ERROR_SUCCESS ? store : nullptr;
}

// ---- handles ----

std::mutex g_handleMutex;
std::set<HKEY> g_handles;

bool PathOf(HKEY key, std::string* out)
{
    if (key == HKEY_CLASSES_ROOT)
        *out = "HKEY_CLASSES_ROOT";
    else if (key == HKEY_CURRENT_USER)
        *out = "HKEY_CURRENT_USER";
    else if (key == HKEY_LOCAL_MACHINE)
        *out = "HKEY_LOCAL_MACHINE";
    else {
        std::lock_guard lock(g_handleMutex);
        if (!key || !g_handles.count(key))
            return false;
        *out = key->path;
    }
    return true;
}

// Joins a handle's path and a subkey path; false for an empty key name or a line break.
bool Join(HKEY key, const char* subKey, std::string* out)
{
    std::string path;
    if (!PathOf(key, &path))
        return false;
    if (subKey) {
        std::string s = subKey;
        while (!s.empty() && s.front() == '\\')
            s.erase(0, 1);
        while (!s.empty() && s.back() == '\\')
            s.pop_back();
        if (s.find("\\\\") != std::string::npos || s.find('\n') != std::string::npos ||
            s.find('\r') != std::string::npos || s.find(']') != std::string::npos)
            return false;
        if (!s.empty())
            path += "\\" + s;
    }
    *out = path;
    return true;
}

HKEY NewHandle(const std::string& path)
{
    auto* h = new (std::nothrow) HKEY__{path};
    if (h) {
        std::lock_guard lock(g_handleMutex);
        g_handles.insert(h);
    }
    return h;
}

bool IsRootPath(const std::string& path) { return path.find('\\') == std::string::npos; }

} // namespace

// ---- the calls ----

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!Join(key, subKey, &path))
        return PathOf(key, &path) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    if (!IsRootPath(path)) {
        LONG rc = ERROR_SUCCESS;
        const auto store = Read(&rc);
        if (!store)
            return rc;
        if (!store->find(path))
            return ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(path);
    return *result ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*, HKEY* result,
                    DWORD* disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!Join(key, subKey, &path))
        return PathOf(key, &path) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    bool created = false;
    if (!IsRootPath(path)) {
        const LONG rc = Modify([&](Store& store, bool& changed) {
            created = !store.find(path);
            changed = store.create(path);
            return ERROR_SUCCESS;
        });
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(path);
    return *result ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                   DWORD cbData)
{
    std::string path;
    if (!PathOf(key, &path))
        return ERROR_INVALID_HANDLE;
    if (type != REG_SZ || (!data && cbData > 0) || IsRootPath(path))
        return ERROR_INVALID_PARAMETER;
    std::string value(reinterpret_cast<const char*>(data), cbData);
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    const std::string name = valueName ? valueName : "";
    return Modify([&](Store& store, bool& changed) {
        Section* k = store.find(path);
        if (!k)
            return ERROR_KEY_DELETED;
        changed = k->set(name, value);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                     DWORD* cbData)
{
    std::string path;
    if (!PathOf(key, &path))
        return ERROR_INVALID_HANDLE;
    if (data && !cbData)
        return ERROR_INVALID_PARAMETER;
    LONG rc = ERROR_SUCCESS;
    const auto store = Read(&rc);
    if (!store)
        return rc;
    const Section* k = store->find(path);
    if (!k)
        return IsRootPath(path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    const Item* item = k->value(valueName ? valueName : "");
    if (!item)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = REG_SZ;
    const DWORD need = static_cast<DWORD>(item->data.size() + 1);
    if (!cbData)
        return ERROR_SUCCESS;
    if (!data) {
        *cbData = need;
        return ERROR_SUCCESS;
    }
    if (*cbData < need) {
        *cbData = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, item->data.c_str(), need);
    *cbData = need;
    return ERROR_SUCCESS;
}

LONG RegDeleteValue(HKEY key, const char* valueName)
{
    std::string path;
    if (!PathOf(key, &path))
        return ERROR_INVALID_HANDLE;
    const std::string name = valueName ? valueName : "";
    return Modify([&](Store& store, bool& changed) {
        Section* k = store.find(path);
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        if (!k->erase(name))
            return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteTree(HKEY key, const char* subKey)
{
    std::string path;
    if (!Join(key, subKey, &path))
        return PathOf(key, &path) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    const bool keepSelf = !subKey || !*subKey;
    return Modify([&](Store& store, bool& changed) {
        if (IsRootPath(path)) {
            if (!keepSelf)
                return ERROR_ACCESS_DENIED;
            changed = store.removeBelow(path);
            return ERROR_SUCCESS;
        }
        if (!store.removeTree(path, keepSelf))
            return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKey(HKEY key, const char* subKey)
{
    std::string path;
    if (!Join(key, subKey, &path))
        return PathOf(key, &path) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    if (IsRootPath(path))
        return ERROR_ACCESS_DENIED;
    return Modify([&](Store& store, bool& changed) {
        if (!store.find(path))
            return ERROR_FILE_NOT_FOUND;
        if (!store.children(path).empty())
            return ERROR_ACCESS_DENIED;
        store.removeKey(path);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, char*, DWORD*, void*)
{
    std::string path;
    if (!PathOf(key, &path))
        return ERROR_INVALID_HANDLE;
    if (!name || !cchName)
        return ERROR_INVALID_PARAMETER;
    LONG rc = ERROR_SUCCESS;
    const auto store = Read(&rc);
    if (!store)
        return rc;
    const std::vector<std::string> children = store->children(path);
    if (index >= children.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& child = children[index];
    if (*cchName < child.size() + 1) {
        *cchName = static_cast<DWORD>(child.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, child.c_str(), child.size() + 1);
    *cchName = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    {
        std::lock_guard lock(g_handleMutex);
        if (!key || g_handles.erase(key) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

// ---- store location ----

comrt::RegistryBatch::RegistryBatch()
{
    if (t_batch) {
        ++t_batch->depth;
        return;
    }
    g_writeMutex.lock();
    auto* b = new (std::nothrow) Batch;
    if (!b) {
        g_writeMutex.unlock();
        return;
    }
    b->file = RegistryStorePath();
    b->lock = std::make_unique<StoreLock>(b->file);
    t_storeError.clear();
    b->loadError = Load(b->file, &b->store);
    if (b->loadError != ERROR_SUCCESS)
        b->loadReason = t_storeError.str();
    b->depth = 1;
    t_batch = b;
    m_owner = true;
}

comrt::RegistryBatch::~RegistryBatch() { commit(); }

LONG comrt::RegistryBatch::commit()
{
    Batch* b = t_batch;
    if (!b)
        return ERROR_SUCCESS;
    if (!m_owner) {
        if (!m_done) {
            m_done = true;
            --b->depth;
        }
        return ERROR_SUCCESS;
    }
    if (m_done)
        return m_result;
    m_done = true;
    m_result = b->dirty && !b->discarded ? Save(b->file, b->store) : ERROR_SUCCESS;
    t_batch = nullptr;
    delete b;
    g_writeMutex.unlock();
    return m_result;
}

void comrt::RegistryBatch::discard()
{
    if (Batch* b = t_batch; b && !m_done) {
        b->discarded = true;
        // What this thread reads from now on is the store as it is on disk.
        b->store = Store{};
        b->loadError = Load(b->file, &b->store);
        if (b->loadError != ERROR_SUCCESS)
            b->loadReason = t_storeError.str();
        b->dirty = false;
    }
}

void comrt::SetRegistryStorePath(const std::string& path)
{
    std::lock_guard lock(g_pathMutex);
    g_storePath = path;
}

std::string comrt::RegistryStorePath()
{
    const HostLink* host = g_host.load();
    if (host && host->storePath && host->storePath != &LocalStorePath) {
        std::string p(4096, '\0');
        size_t n = host->storePath(p.data(), p.size());
        if (n >= p.size()) {
            p.assign(n + 1, '\0');
            n = host->storePath(p.data(), p.size());
        }
        p.resize(std::min(n, p.size() - 1));
        return p;
    }
    return LocalPath();
}

std::string comrt::ExecutableFolder()
{
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0)
        return ".";
    buf.resize(static_cast<size_t>(n));
    const size_t slash = buf.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : buf.substr(0, slash);
}

bool comrt::ReadClassesRootString(const std::string& keyPath, const char* valueName,
                                  std::string* out)
{
    LONG rc = ERROR_SUCCESS;
    const auto store = Read(&rc);
    if (!store)
        return false;
    const Section* k = store->find("HKEY_CLASSES_ROOT\\" + keyPath);
    if (!k)
        return false;
    const Item* item = k->value(valueName ? valueName : "");
    if (!item)
        return false;
    if (out)
        *out = item->data;
    return true;
}

bool comrt::ClassesRootKeyExists(const std::string& keyPath)
{
    LONG rc = ERROR_SUCCESS;
    const auto store = Read(&rc);
    return store && store->find("HKEY_CLASSES_ROOT\\" + keyPath);
}

void comrt::internal::AttachHost(const HostLink* host)
{
    // The first loader wins: a library loaded again later (by itself, or by a library it loaded)
    // keeps the store of the process's host, and no chain can turn into a loop.
    if (host && host->structSize >= sizeof(HostLink) && host != &g_thisHost) {
        const HostLink* expected = nullptr;
        g_host.compare_exchange_strong(expected, host);
    }
}

const comrt::HostLink* comrt::ThisHostLink() { return &g_thisHost; }

std::string comrt::LastRegistryError() { return t_storeError.str(); }

void comrt::ClearLastRegistryError() { t_storeError.clear(); }

unsigned comrt::internal::StoreLoadCount() { return g_storeLoads.load(); }
