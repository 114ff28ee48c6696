#include "FolderListing.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace search {

namespace {

std::atomic<int64_t> g_delayMicroseconds{0};

void delayOperation()
{
    if (const int64_t us = g_delayMicroseconds.load(std::memory_order_relaxed); us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

constexpr int kEntriesPerListingStep = 64;

QDateTime fromTimestamp(const struct statx_timestamp &t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

int64_t nsOf(const struct statx_timestamp &t)
{
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

EntryKind classify(const QByteArray &path, unsigned char type)
{
    if (type == DT_DIR)
        return EntryKind::Folder;
    if (type == DT_REG)
        return EntryKind::File;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return EntryKind::Other;
    delayOperation();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return ::lstat(path.constData(), &st) == 0 ? EntryKind::File : EntryKind::Other;  // dangling link
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

}  // namespace

static std::optional<FileStamp> stampFrom(const struct statx &sx)
{
    constexpr unsigned needed = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    if ((sx.stx_mask & needed) != needed || !S_ISREG(sx.stx_mode))
        return std::nullopt;
    FileStamp s;
    // Encoded as stat() gives st_dev, so stamps stored by either reading compare equal.
    s.dev = uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    s.ino = sx.stx_ino;
    s.size = sx.stx_size;
    s.mtimeNs = nsOf(sx.stx_mtime);
    s.ctimeNs = nsOf(sx.stx_ctime);
    return s;
}

FileFacts readFacts(const QByteArray &path)
{
    FileFacts facts;
    delayOperation();
    struct statx sx {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(AT_FDCWD, path.constData(), 0, mask, &sx) == 0) {
        facts.stamp = stampFrom(sx);
    } else if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, mask, &sx) != 0) {
        return facts;
    }
    facts.known = true;
    facts.size = sx.stx_size;
    facts.modified = fromTimestamp(sx.stx_mtime);
    facts.accessed = fromTimestamp(sx.stx_atime);
    // Not every file system records a birth time; the status-change time is the nearest stand-in.
    facts.created = fromTimestamp((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime);
    return facts;
}

std::optional<FileStamp> readStamp(const QByteArray &path)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, path.constData(), 0, STATX_BASIC_STATS, &sx) != 0)
        return std::nullopt;
    return stampFrom(sx);
}

bool folderIdOf(const QByteArray &path, FolderId &id)
{
    delayOperation();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
}

QString errorText(int error)
{
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

void setDelayPerOperation(std::chrono::microseconds delay)
{
    g_delayMicroseconds.store(delay.count(), std::memory_order_relaxed);
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
    int sinceDelay = 0;
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
    delayOperation();
    // O_NONBLOCK: a FIFO put where a folder was is never waited on (O_DIRECTORY refuses it).
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_error = errno;
        ::close(fd);
        return false;
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        m_error = errno;
        ::close(fd);
        return false;
    }
    m_id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    m_dir = new Dir{dir};
    m_folder = folder;
    return true;
}

bool FolderReader::next(FolderEntry &entry)
{
    if (!m_dir || m_failed)
        return false;
    for (;;) {
        if (++m_dir->sinceDelay >= kEntriesPerListingStep) {
            m_dir->sinceDelay = 0;
            delayOperation();
        }
        errno = 0;
        const dirent *e = ::readdir(m_dir->handle);
        if (!e) {
            m_failed = errno != 0;
            m_error = errno;
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
