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

// The folder's entries without "." and "..", in the file system's order; false when the folder
// cannot be opened or listed. Devices, pipes and sockets are Other: opening one could block.
bool listFolder(const QByteArray &folder, std::vector<FolderEntry> &entries);

QByteArray joinPath(const QByteArray &folder, const QByteArray &name);
// The folder as the file system names it: no trailing separator except for the root.
QByteArray withoutTrailingSeparator(QByteArray folder);

}  // namespace search
