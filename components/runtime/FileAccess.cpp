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
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace comrt {

namespace {

std::string SystemText(int err) { return std::strerror(err); }

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

std::atomic<unsigned> g_tempCounter{0};

std::string Octal(unsigned mode)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", mode & 07777);
    return buf;
}

// A user's private group (same name as the user, no other members): group write access there
// gives nobody else anything, so folders made under a umask of 002 are not refused for it.
bool IsPrivateGroup(uid_t uid, gid_t gid)
{
    if (uid == 0)
        return false;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* user = nullptr;
    group gr{};
    group* grp = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size() / 2, &user) != 0 || !user ||
        user->pw_gid != gid)
        return false;
    if (::getgrgid_r(gid, &gr, buf.data() + buf.size() / 2, buf.size() / 2, &grp) != 0 || !grp)
        return false;
    if (std::strcmp(grp->gr_name, user->pw_name) != 0)
        return false;
    for (char** member = grp->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, user->pw_name) != 0)
            return false;
    return true;
}

// Checks path and every folder above it; false with *reason at the first one others may change.
bool ChainIsSafe(const std::string& absolute, std::string* reason)
{
    const uid_t me = ::geteuid();
    std::string p = absolute;
    while (!p.empty()) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) {
                *reason = "cannot examine " + p + ": " + SystemText(errno);
                return false;
            }
        } else {
            const std::string what = S_ISDIR(st.st_mode) ? "folder " + p : p;
            if (st.st_uid != 0 && st.st_uid != me) {
                *reason = what + " is owned by another user (uid " + std::to_string(st.st_uid) + ")";
                return false;
            }
            // A link's own mode means nothing; whoever may replace it is judged by its folder.
            const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
            const mode_t others = S_IWOTH | (IsPrivateGroup(st.st_uid, st.st_gid) ? 0 : S_IWGRP);
            if (!S_ISLNK(st.st_mode) && !sticky && (st.st_mode & others)) {
                *reason = what + " is writable by other users (mode " + Octal(st.st_mode) + ")";
                return false;
            }
        }
        if (p == "/")
            break;
        p = FolderOfPath(p);
    }
    return true;
}

} // namespace

std::string FolderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

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
    if (::fstat(fd, &st) != 0) {
        *reason = SystemText(errno);
        ::close(fd);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "not a regular file";
        ::close(fd);
        return ReadResult::Failed;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        *reason = "larger than " + std::to_string(maxBytes) + " bytes";
        ::close(fd);
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
            ::close(fd);
            out->clear();
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        // The file may grow while it is read; the bound holds all the same.
        if (out->size() + static_cast<size_t>(n) > maxBytes) {
            *reason = "larger than " + std::to_string(maxBytes) + " bytes";
            ::close(fd);
            out->clear();
            return ReadResult::Failed;
        }
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
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
    std::string why;
    const std::string absolute = Absolute(path);
    if (!ChainIsSafe(absolute, &why)) {
        if (reason)
            *reason = why;
        return false;
    }
    if (char* real = ::realpath(absolute.c_str(), nullptr)) {
        const std::string resolved = real;
        std::free(real);
        if (resolved != absolute && !ChainIsSafe(resolved, &why)) {
            if (reason)
                *reason = why;
            return false;
        }
    }
    return true;
}

bool IsSafeToStart(const std::string& path)
{
    std::string reason;
    if (IsSafeToLoad(path, &reason))
        return true;
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (told.insert(path).second)
        std::fprintf(stderr, "refusing to start %s: %s\n", path.c_str(), reason.c_str());
    return false;
}

} // namespace comrt
