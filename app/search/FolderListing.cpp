#include "FolderListing.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace search {

namespace {

QDateTime fromTimestamp(const struct statx_timestamp &t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

EntryKind classify(const QByteArray &path, unsigned char type)
{
    if (type == DT_DIR)
        return EntryKind::Folder;
    if (type == DT_REG)
        return EntryKind::File;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return EntryKind::Other;
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return ::lstat(path.constData(), &st) == 0 ? EntryKind::File : EntryKind::Other;  // dangling link
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

}  // namespace

FileFacts readFacts(const QByteArray &path)
{
    FileFacts facts;
    struct statx sx {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(AT_FDCWD, path.constData(), 0, mask, &sx) != 0
        && ::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, mask, &sx) != 0)
        return facts;
    facts.known = true;
    facts.size = sx.stx_size;
    facts.modified = fromTimestamp(sx.stx_mtime);
    facts.accessed = fromTimestamp(sx.stx_atime);
    // Not every file system records a birth time; the status-change time is the nearest stand-in.
    facts.created = fromTimestamp((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime);
    return facts;
}

QByteArray joinPath(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

QByteArray withoutTrailingSeparator(QByteArray folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    return folder;
}

struct FolderReader::Dir
{
    DIR *handle;
};

FolderReader::~FolderReader()
{
    if (m_dir) {
        ::closedir(m_dir->handle);
        delete m_dir;
    }
}

bool FolderReader::open(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    m_dir = new Dir{dir};
    m_folder = folder;
    return true;
}

bool FolderReader::next(FolderEntry &entry)
{
    if (!m_dir || m_failed)
        return false;
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(m_dir->handle);
        if (!e) {
            m_failed = errno != 0;
            return false;
        }
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        entry = {name, classify(joinPath(m_folder, name), e->d_type)};
        return true;
    }
}

bool listFolder(const QByteArray &folder, std::vector<FolderEntry> &entries)
{
    FolderReader reader;
    if (!reader.open(folder))
        return false;
    FolderEntry entry;
    while (reader.next(entry))
        entries.push_back(std::move(entry));
    return !reader.failed() || !entries.empty();
}

}  // namespace search
