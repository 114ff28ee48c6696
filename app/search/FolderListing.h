#pragma once
// The file-system side of the walk: a folder's entries as the file system returns them, and the
// facts of one file. Names and paths are bytes (they need not be UTF-8).

#include <QByteArray>
#include <QDateTime>

#include <cstdint>
#include <vector>

namespace search {

struct FileFacts
{
    bool known = false;  // false: nothing beyond the name could be read
    uint64_t size = 0;
    QDateTime created, modified, accessed;
};

enum class EntryKind { File, Folder, Other };

struct FolderEntry
{
    QByteArray name;
    EntryKind kind;
};

// Facts of the entry; follows links, and falls back to the link itself when its target is gone.
FileFacts readFacts(const QByteArray &path);

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

    // False when the folder cannot be opened.
    bool open(const QByteArray &folder);
    // The next entry; false at the end (or when the listing fails part way: what was read stands).
    bool next(FolderEntry &entry);
    // True when the listing stopped on an error rather than at its end.
    bool failed() const { return m_failed; }

private:
    struct Dir;
    Dir *m_dir = nullptr;
    QByteArray m_folder;
    bool m_failed = false;
};

// All of a folder's entries; false when the folder cannot be opened or nothing could be listed.
bool listFolder(const QByteArray &folder, std::vector<FolderEntry> &entries);

QByteArray joinPath(const QByteArray &folder, const QByteArray &name);
// The folder as the file system names it: no trailing separator except for the root.
QByteArray withoutTrailingSeparator(QByteArray folder);

}  // namespace search
