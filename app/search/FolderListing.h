#pragma once
// The file-system side of the walk: a folder's entries as the file system returns them, and the
// facts of one file. Names and paths are bytes (they need not be UTF-8).

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace search {

// A folder as the file system knows it: the same folder reached by two paths (a link, a bind
// mount) has the same identity.
struct FolderId
{
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool operator==(const FolderId &) const = default;
};

struct FolderIdHash
{
    size_t operator()(const FolderId &id) const { return std::hash<uint64_t>()(id.ino * 31 + id.dev); }
};

// What a cached page count is valid for: the file as stat() sees it.
struct FileStamp
{
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0, ctimeNs = 0;
    bool operator==(const FileStamp &) const = default;
};

struct FileFacts
{
    bool known = false;  // false: nothing beyond the name could be read
    uint64_t size = 0;
    QDateTime created, modified, accessed;
    // From the same reading, when the path names a regular file (links followed): the page-count
    // cache then needs no reading of its own.
    std::optional<FileStamp> stamp;
};

enum class EntryKind { File, Folder, Other };

struct FolderEntry
{
    QByteArray name;
    EntryKind kind;
};

// Facts of the entry; follows links, and falls back to the link itself when its target is gone.
FileFacts readFacts(const QByteArray &path);
// The stamp alone (links followed); nothing for a file that cannot be read or is not regular.
std::optional<FileStamp> readStamp(const QByteArray &path);

// Reads a folder's entries one at a time, in the file system's order, without "." and "..".
// Devices, pipes and sockets are Other: opening one could block. A huge folder is never held
// in memory whole, and its first entries are at hand at once.
class FolderReader
{
public:
    FolderReader() = default;
    ~FolderReader();
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    // False when the folder cannot be opened (error() says why).
    bool open(const QByteArray &folder);
    // The next entry; false at the end (or when the listing fails part way: what was read stands).
    bool next(FolderEntry &entry);
    // True when the listing stopped on an error rather than at its end.
    bool failed() const { return m_failed; }
    // The system's error number of a failed open or listing; 0 when there was none.
    int error() const { return m_error; }
    // The folder opened (valid after a successful open).
    FolderId id() const { return m_id; }

private:
    struct Dir;
    Dir *m_dir = nullptr;
    QByteArray m_folder;
    FolderId m_id;
    bool m_failed = false;
    int m_error = 0;
};

// All of a folder's entries; false when the folder cannot be opened or nothing could be listed.
bool listFolder(const QByteArray &folder, std::vector<FolderEntry> &entries);

// The identity of the folder at path (links followed); false when it is gone or no folder.
bool folderIdOf(const QByteArray &path, FolderId &id);

// The system's words for an error number.
QString errorText(int error);

// Benchmarks and tests: every open, listing step of 64 entries and file-status read first waits
// this long, as on a file server far away. Zero (the default) adds nothing.
void setDelayPerOperation(std::chrono::microseconds delay);

QByteArray joinPath(const QByteArray &folder, const QByteArray &name);
// The folder as the file system names it: no trailing separator except for the root.
QByteArray withoutTrailingSeparator(QByteArray folder);

}  // namespace search
