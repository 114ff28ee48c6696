#include "ComRegistry.h"

#include "ComInternal.h"

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

const comrt::HostLink g_thisHost = {sizeof(comrt::HostLink), &LocalStorePath};

std::string LocalPath()
{
    std::lock_guard lock(g_pathMutex);
    if (!g_storePath.empty())
        return g_storePath;
    return comrt::ExecutableFolder() + "/quirewell.reg";
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

struct Key {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;

    std::vector<std::pair<std::string, std::string>>::iterator find(const std::string& name)
    {
        for (auto it = values.begin(); it != values.end(); ++it)
            if (comrt::internal::IEquals(it->first, name))
                return it;
        return values.end();
    }
};

struct Store {
    std::map<std::string, Key> keys; // by SortKey

    Key* find(const std::string& path)
    {
        auto it = keys.find(SortKey(path));
        return it == keys.end() ? nullptr : &it->second;
    }
    // Creates the key and every missing parent below the root; true when anything was new.
    bool create(const std::string& path)
    {
        bool created = false;
        size_t pos = path.find('\\');
        while (true) {
            const std::string prefix = pos == std::string::npos ? path : path.substr(0, pos);
            if (prefix.find('\\') != std::string::npos && !find(prefix)) {
                keys[SortKey(prefix)] = Key{prefix, {}};
                created = true;
            }
            if (pos == std::string::npos)
                break;
            pos = path.find('\\', pos + 1);
        }
        return created;
    }
    // Removes the key's subkeys (and the key itself unless keepSelf). True when it existed.
    bool removeTree(const std::string& path, bool keepSelf)
    {
        const std::string k = SortKey(path);
        auto it = keys.find(k);
        if (it == keys.end())
            return false;
        const std::string childPrefix = k + '\x01';
        auto child = std::next(it);
        while (child != keys.end() && child->first.compare(0, childPrefix.size(), childPrefix) == 0)
            child = keys.erase(child);
        if (keepSelf)
            it->second.values.clear();
        else
            keys.erase(it);
        return true;
    }
    std::vector<std::string> children(const std::string& path)
    {
        std::vector<std::string> out;
        const std::string prefix = SortKey(path) + '\x01';
        for (auto it = keys.lower_bound(prefix);
             it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            const std::string rest = it->second.path.substr(path.size() + 1);
            if (rest.find('\\') == std::string::npos)
                out.push_back(rest);
        }
        return out;
    }
};

bool IsRootName(const std::string& s)
{
    return s == "HKEY_CLASSES_ROOT" || s == "HKEY_CURRENT_USER" || s == "HKEY_LOCAL_MACHINE";
}

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

std::string Serialize(const Store& store)
{
    std::string text = "REGEDIT4\n";
    for (const auto& [sort, key] : store.keys) {
        text += "\n[" + key.path + "]\n";
        for (const auto& [name, value] : key.values) {
            text += name.empty() ? std::string("@") : "\"" + Escape(name) + "\"";
            text += "=\"" + Escape(value) + "\"\n";
        }
    }
    return text;
}

LONG Parse(const std::string& text, Store* store)
{
    size_t pos = 0;
    bool header = false;
    Key* current = nullptr;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (!header) {
            if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00")
                return ERROR_BADDB;
            header = true;
            continue;
        }
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos || close < 2) {
                current = nullptr;
                continue;
            }
            const std::string path = line.substr(1, close - 1);
            const std::string root = path.substr(0, path.find('\\'));
            if (!IsRootName(root) || path.find('\\') == std::string::npos) {
                current = nullptr;
                continue;
            }
            store->create(path);
            current = store->find(path);
            continue;
        }
        if (!current)
            continue;
        std::string name;
        size_t p = 0;
        if (line[0] == '@') {
            p = 1;
        } else if (!ReadQuoted(line, p, &name)) {
            continue;
        }
        std::string value;
        if (p >= line.size() || line[p] != '=')
            continue;
        ++p;
        if (!ReadQuoted(line, p, &value))
            continue;
        auto it = current->find(name);
        if (it != current->values.end())
            it->second = value;
        else
            current->values.emplace_back(name, value);
    }
    if (!header && !text.empty())
        return ERROR_BADDB;
    return ERROR_SUCCESS;
}

LONG Load(const std::string& file, Store* store)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_CANTREAD;
    std::string text;
    char buf[8192];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return ERROR_CANTREAD;
    return Parse(text, store);
}

LONG Save(const std::string& file, const Store& store)
{
    const std::string text = Serialize(store);
    const std::string temp = file + ".tmp." + std::to_string(getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ERROR_CANTWRITE;
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (!ok || std::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// An exclusive advisory lock beside the store for one read-modify-write.
class StoreLock {
public:
    explicit StoreLock(const std::string& file)
    {
        m_fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
    bool dirty = false;
    int depth = 0;
};
thread_local Batch* t_batch = nullptr;

template <class Fn>
LONG Modify(Fn&& change)
{
    if (Batch* b = t_batch) {
        if (b->loadError != ERROR_SUCCESS)
            return b->loadError;
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

LONG Read(Store* store)
{
    if (Batch* b = t_batch) {
        if (b->loadError != ERROR_SUCCESS)
            return b->loadError;
        *store = b->store;
        return ERROR_SUCCESS;
    }
    return Load(comrt::RegistryStorePath(), store);
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
        Store store;
        const LONG rc = Read(&store);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (!store.find(path))
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
        Key* k = store.find(path);
        if (!k)
            return ERROR_KEY_DELETED;
        auto it = k->find(name);
        if (it == k->values.end()) {
            k->values.emplace_back(name, value);
            changed = true;
        } else if (it->second != value) {
            it->second = value;
            changed = true;
        }
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
    Store store;
    const LONG rc = Read(&store);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key* k = store.find(path);
    if (!k)
        return IsRootPath(path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    auto it = k->find(valueName ? valueName : "");
    if (it == k->values.end())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = REG_SZ;
    const DWORD need = static_cast<DWORD>(it->second.size() + 1);
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
    std::memcpy(data, it->second.c_str(), need);
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
        Key* k = store.find(path);
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        auto it = k->find(name);
        if (it == k->values.end())
            return ERROR_FILE_NOT_FOUND;
        k->values.erase(it);
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
            const std::string prefix = SortKey(path) + '\x01';
            for (auto it = store.keys.lower_bound(prefix);
                 it != store.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
                it = store.keys.erase(it), changed = true;
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
        store.keys.erase(SortKey(path));
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
    Store store;
    const LONG rc = Read(&store);
    if (rc != ERROR_SUCCESS)
        return rc;
    const std::vector<std::string> children = store.children(path);
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
    b->loadError = Load(b->file, &b->store);
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
    m_result = b->dirty ? Save(b->file, b->store) : ERROR_SUCCESS;
    t_batch = nullptr;
    delete b;
    g_writeMutex.unlock();
    return m_result;
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
    Store store;
    if (Read(&store) != ERROR_SUCCESS)
        return false;
    Key* k = store.find("HKEY_CLASSES_ROOT\\" + keyPath);
    if (!k)
        return false;
    auto it = k->find(valueName ? valueName : "");
    if (it == k->values.end())
        return false;
    if (out)
        *out = it->second;
    return true;
}

bool comrt::ClassesRootKeyExists(const std::string& keyPath)
{
    Store store;
    return Read(&store) == ERROR_SUCCESS && store.find("HKEY_CLASSES_ROOT\\" + keyPath);
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
