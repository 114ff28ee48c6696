#include "FileAccess.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace comrt {

namespace {

std::string SystemText(int err) { return std::strerror(err); }

std::atomic<unsigned> g_tempCounter{0};

std::string Octal(unsigned mode)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", mode & 07777);
    return buf;
}

// The system's account records.
class SystemAccounts : public AccountFacts {
public:
    uid_t self() const override { return ::geteuid(); }
    bool user(uid_t uid, std::string* name, gid_t* primaryGroup) const override
    {
        std::vector<char> buf(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
            return false;
        *name = found->pw_name;
        *primaryGroup = found->pw_gid;
        return true;
    }
    bool group(gid_t gid, std::string* name, std::vector<std::string>* members) const override
    {
        std::vector<char> buf(65536);
        struct group gr {};
        struct group* found = nullptr;
        if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found)
            return false;
        *name = found->gr_name;
        members->clear();
        for (char** member = found->gr_mem; member && *member; ++member)
            members->emplace_back(*member);
        return true;
    }
};

const SystemAccounts g_systemAccounts;
std::atomic<const AccountFacts*> g_accounts{nullptr};

const AccountFacts& Accounts()
{
    const AccountFacts* facts = g_accounts.load();
    return facts ? *facts : g_systemAccounts;
}

// A user's private group (same name as the user, its primary group, no other members): group
// write access there gives nobody else anything, so folders made under a umask of 002 are not
// refused for it. Root's group is never taken as private.
bool IsPrivateGroup(uid_t uid, gid_t gid)
{
    if (uid == 0)
        return false;
    const AccountFacts& facts = Accounts();
    std::string userName;
    gid_t primary = 0;
    if (!facts.user(uid, &userName, &primary) || primary != gid)
        return false;
    std::string groupName;
    std::vector<std::string> members;
    if (!facts.group(gid, &groupName, &members) || groupName != userName)
        return false;
    for (const std::string& member : members)
        if (member != userName)
            return false;
    return true;
}

// Why another user could change what st describes (empty when nobody can); what names it.
std::string Exposure(const struct stat& st, const std::string& what)
{
    const uid_t me = Accounts().self();
    if (st.st_uid != 0 && st.st_uid != me)
        return what + " is owned by another user (uid " + std::to_string(st.st_uid) + ")";
    const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
    const mode_t others = S_IWOTH | (IsPrivateGroup(st.st_uid, st.st_gid) ? 0 : S_IWGRP);
    if (!sticky && (st.st_mode & others))
        return what + " is writable by other users (mode " + Octal(st.st_mode) + ")";
    return {};
}

std::string NotAFile(mode_t mode)
{
    return S_ISDIR(mode) ? "it is a folder, not a file" : "it is not a regular file";
}

} // namespace

// ---- CheckedFile ----

CheckedFile::CheckedFile(const std::string& path, bool openFile) { check(path, openFile); }

void CheckedFile::check(const std::string& path, bool openFile)
{
    const auto fail = [this](Outcome outcome, std::string reason) {
        m_outcome = outcome;
        m_reason = std::move(reason);
    };
    if (path.empty())
        return fail(Outcome::Missing, SystemText(ENOENT));
    // Made absolute as written: ".." is left for the kernel, which takes it after any link.
    std::string absolute = path;
    if (path[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return fail(Outcome::Failed, "cannot resolve " + path + ": " + SystemText(errno));
        absolute = std::string(cwd) + "/" + path;
        std::free(cwd);
    }
    char* real = ::realpath(absolute.c_str(), nullptr);
    if (!real) {
        const int err = errno;
        return fail(err == ENOENT || err == ENOTDIR ? Outcome::Missing : Outcome::Failed,
                    SystemText(err));
    }
    m_resolved = real;
    std::free(real);
    if (m_resolved == "/")
        return fail(Outcome::Failed, NotAFile(S_IFDIR));

    // Down from the root, one descriptor per folder, never following a link: what is checked is
    // what the next step opens from.
    int dir = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return fail(Outcome::Failed, "cannot examine /: " + SystemText(errno));
    const auto closeDir = [&dir] {
        if (dir >= 0)
            ::close(dir);
        dir = -1;
    };
    struct stat st {};
    if (::fstat(dir, &st) != 0) {
        const int err = errno;
        closeDir();
        return fail(Outcome::Failed, "cannot examine /: " + SystemText(err));
    }
    if (std::string why = Exposure(st, "folder /"); !why.empty()) {
        closeDir();
        return fail(Outcome::Unsafe, why);
    }
    const auto changed = [&](const std::string& at) {
        closeDir();
        fail(Outcome::Failed, at + " changed while it was being checked");
    };
    size_t pos = 1;
    std::string sofar;
    while (true) {
        const size_t slash = m_resolved.find('/', pos);
        const std::string name = m_resolved.substr(pos, slash == std::string::npos ? std::string::npos
                                                                                 : slash - pos);
        sofar += "/" + name;
        if (slash == std::string::npos) {
            // The file itself: looked at before it is opened, so a FIFO or device never is.
            if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;
                closeDir();
                return fail(err == ENOENT ? Outcome::Missing : Outcome::Failed, SystemText(err));
            }
            if (S_ISLNK(st.st_mode))
                return changed(sofar);
            if (!S_ISREG(st.st_mode)) {
                closeDir();
                return fail(Outcome::Failed, NotAFile(st.st_mode));
            }
            if (std::string why = Exposure(st, sofar); !why.empty()) {
                closeDir();
                return fail(Outcome::Unsafe, why);
            }
            if (!openFile) {
                closeDir();
                m_outcome = Outcome::Open;
                return;
            }
            const int fd = ::openat(dir, name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            const int err = errno;
            closeDir();
            if (fd < 0) {
                if (err == ELOOP)
                    return changed(sofar);
                return fail(err == ENOENT ? Outcome::Missing : Outcome::Failed, SystemText(err));
            }
            struct stat opened {};
            if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev ||
                opened.st_ino != st.st_ino) {
                ::close(fd);
                return changed(sofar);
            }
            // The descriptor's own facts decide: the name may have been swapped since fstatat.
            if (std::string why = Exposure(opened, sofar); !why.empty()) {
                ::close(fd);
                return fail(Outcome::Unsafe, why);
            }
            m_fd = fd;
            m_outcome = Outcome::Open;
            return;
        }
        const int next = ::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        closeDir();
        if (next < 0) {
            if (err == ELOOP || err == ENOTDIR)
                return changed(sofar);
            return fail(err == ENOENT ? Outcome::Missing : Outcome::Failed,
                        "cannot examine folder " + sofar + ": " + SystemText(err));
        }
        dir = next;
        if (::fstat(dir, &st) != 0) {
            const int e = errno;
            closeDir();
            return fail(Outcome::Failed, "cannot examine folder " + sofar + ": " + SystemText(e));
        }
        if (std::string why = Exposure(st, "folder " + sofar); !why.empty()) {
            closeDir();
            return fail(Outcome::Unsafe, why);
        }
        pos = slash + 1;
    }
}

CheckedFile::~CheckedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int CheckedFile::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void SetAccountFacts(const AccountFacts* facts) { g_accounts.store(facts); }

std::string FolderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

namespace {

// Reads what is left of an open regular file, at most maxBytes; closes nothing.
ReadResult ReadAll(int fd, const struct stat& st, size_t maxBytes, std::string* out,
                   std::string* reason)
{
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        *reason = "larger than " + std::to_string(maxBytes) + " bytes";
        return ReadResult::Failed;
    }
    out->reserve(static_cast<size_t>(st.st_size));
    char buf[16384];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = SystemText(errno);
            out->clear();
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        // The file may grow while it is read; the bound holds all the same.
        if (out->size() + static_cast<size_t>(n) > maxBytes) {
            *reason = "larger than " + std::to_string(maxBytes) + " bytes";
            out->clear();
            return ReadResult::Failed;
        }
        out->append(buf, static_cast<size_t>(n));
    }
    return ReadResult::Ok;
}

} // namespace

ReadResult ReadRegularFile(const std::string& path, size_t maxBytes, std::string* out,
                           std::string* reason)
{
    out->clear();
    // O_NONBLOCK: opening a FIFO nobody writes to would otherwise wait for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        *reason = SystemText(errno);
        return ReadResult::Failed;
    }
    struct stat st {};
    ReadResult result = ReadResult::Failed;
    if (::fstat(fd, &st) != 0)
        *reason = SystemText(errno);
    else if (!S_ISREG(st.st_mode))
        *reason = S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "not a regular file";
    else
        result = ReadAll(fd, st, maxBytes, out, reason);
    ::close(fd);
    return result;
}

ReadResult ReadCheckedFile(const CheckedFile& file, size_t maxBytes, std::string* out,
                           std::string* reason)
{
    out->clear();
    struct stat st {};
    if (::fstat(file.descriptor(), &st) != 0) {
        *reason = SystemText(errno);
        return ReadResult::Failed;
    }
    return ReadAll(file.descriptor(), st, maxBytes, out, reason);
}

// ---- FileReplacer ----

FileReplacer::FileReplacer(std::string path, LinkPolicy links, unsigned newFileMode)
    : m_path(std::move(path)), m_links(links), m_mode(newFileMode)
{
}

FileReplacer::~FileReplacer() { cancel(); }

bool FileReplacer::fail(const std::string& what, int err)
{
    if (m_error.empty())
        m_error = err ? what + ": " + SystemText(err) : what;
    cancel();
    return false;
}

bool FileReplacer::open()
{
    cancel();
    m_error.clear();
    if (m_path.empty())
        return fail("cannot write a file without a name", 0);
    m_target = m_path;
    struct stat st {};
    bool exists = ::lstat(m_target.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        if (m_links == LinkPolicy::Refuse)
            return fail("cannot write " + m_path + ": it is a symbolic link; nothing was written", 0);
        char* real = ::realpath(m_path.c_str(), nullptr);
        if (!real)
            return fail("cannot write " + m_path + " (a symbolic link)", errno);
        m_target = real;
        std::free(real);
        exists = ::lstat(m_target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode))
        return fail("cannot write " + m_path + ": it is not a regular file", 0);

    RemoveStaleTemporaries(m_target);
    m_temp = m_target + ".tmp." + std::to_string(::getpid()) + "." +
             std::to_string(g_tempCounter.fetch_add(1));
    m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, m_mode);
    if (m_fd < 0) {
        const int err = errno;
        m_temp.clear();
        return fail("cannot write " + m_path + " (creating a file in " + FolderOfPath(m_target) + ")",
                    err);
    }
    // The replacement keeps the permissions of the file it replaces.
    if (exists)
        (void)::fchmod(m_fd, st.st_mode & 07777);
    return true;
}

bool FileReplacer::write(std::string_view bytes)
{
    if (m_fd < 0)
        return fail("cannot write " + m_path, m_error.empty() ? EBADF : 0);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return fail("cannot write " + m_path, errno);
        if (w == 0)
            return fail("cannot write " + m_path, EIO);
        done += static_cast<size_t>(w);
    }
    return true;
}

bool FileReplacer::commit()
{
    if (m_fd < 0)
        return fail("cannot write " + m_path, m_error.empty() ? EBADF : 0);
    // Many file systems report a full disk or a quota only here.
    if (::fsync(m_fd) != 0)
        return fail("cannot write " + m_path, errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail("cannot write " + m_path, errno);
    if (std::rename(m_temp.c_str(), m_target.c_str()) != 0)
        return fail("cannot replace " + m_path, errno);
    m_temp.clear();
    return true;
}

void FileReplacer::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error,
                         LinkPolicy links, unsigned newFileMode)
{
    FileReplacer file(path, links, newFileMode);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && error)
        *error = file.error();
    return ok;
}

void RemoveStaleTemporaries(const std::string& path)
{
    const std::string folder = FolderOfPath(path);
    const size_t slash = path.rfind('/');
    const std::string prefix =
        (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // "<pid>" or "<pid>.<n>": the writer's process id comes first.
        const std::string_view rest = name.substr(prefix.size());
        long long pid = 0;
        size_t i = 0;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && pid < INT_MAX)
            pid = pid * 10 + (rest[i++] - '0');
        if (i == 0 || pid <= 0 || pid >= INT_MAX)
            continue;
        // Nothing but "<pid>" or "<pid>.<n>": a name of any other shape is not ours.
        if (i < rest.size() && (rest[i] != '.' || i + 1 == rest.size() ||
                                rest.find_first_not_of("0123456789", i + 1) != std::string_view::npos))
            continue;
        if (pid == self || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue; // its writer may still be at work
        const std::string full = folder + "/" + std::string(name);
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlink(full.c_str());
    }
    ::closedir(dir);
}

bool IsSafeToLoad(const std::string& path, std::string* reason)
{
    const CheckedFile file(path, false);
    if (file.outcome() == CheckedFile::Outcome::Open || file.outcome() == CheckedFile::Outcome::Missing)
        return true;
    if (reason)
        *reason = file.reason();
    return false;
}

} // namespace comrt
