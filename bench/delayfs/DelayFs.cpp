// A file system that shows a folder as it is, but answers each open, read and folder listing
// only after a set delay: a file server across a network, on this machine. The benchmarks mount
// their corpus through it to measure what counting lanes do on a share.
//
//   delayfs SOURCE MOUNTPOINT MICROSECONDS [fuse options]    (runs until unmounted)
//
// Read-only; requests are served by many threads at once, so concurrent requests wait out their
// delays together, as they do on a real link.

#define FUSE_USE_VERSION 35
#include <fuse3/fuse.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string g_source;
std::chrono::microseconds g_delay{0};

std::string real(const char *path)
{
    return g_source + path;
}

void wait()
{
    if (g_delay.count() > 0)
        std::this_thread::sleep_for(g_delay);
}

int getattr(const char *path, struct stat *st, fuse_file_info *)
{
    return ::lstat(real(path).c_str(), st) == 0 ? 0 : -errno;
}

int readlink(const char *path, char *buf, size_t size)
{
    const ssize_t n = ::readlink(real(path).c_str(), buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = 0;
    return 0;
}

int opendir(const char *path, fuse_file_info *fi)
{
    wait();
    DIR *d = ::opendir(real(path).c_str());
    if (!d)
        return -errno;
    fi->fh = reinterpret_cast<uint64_t>(d);
    return 0;
}

int readdir(const char *, void *buf, fuse_fill_dir_t fill, off_t, fuse_file_info *fi, fuse_readdir_flags)
{
    wait();
    DIR *d = reinterpret_cast<DIR *>(fi->fh);
    ::rewinddir(d);
    while (const dirent *e = ::readdir(d)) {
        struct stat st {};
        st.st_ino = e->d_ino;
        st.st_mode = mode_t(DTTOIF(e->d_type));
        if (fill(buf, e->d_name, &st, 0, fuse_fill_dir_flags(0)))
            break;
    }
    return 0;
}

int releasedir(const char *, fuse_file_info *fi)
{
    ::closedir(reinterpret_cast<DIR *>(fi->fh));
    return 0;
}

int open(const char *path, fuse_file_info *fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    wait();
    const int fd = ::open(real(path).c_str(), fi->flags);
    if (fd < 0)
        return -errno;
    fi->fh = uint64_t(fd);
    return 0;
}

int read(const char *, char *buf, size_t size, off_t offset, fuse_file_info *fi)
{
    wait();
    const ssize_t n = ::pread(int(fi->fh), buf, size, offset);
    return n < 0 ? -errno : int(n);
}

int release(const char *, fuse_file_info *fi)
{
    ::close(int(fi->fh));
    return 0;
}

int statfs(const char *path, struct statvfs *st)
{
    return ::statvfs(real(path).c_str(), st) == 0 ? 0 : -errno;
}

void *init(fuse_conn_info *, fuse_config *cfg)
{
    // Nothing kept between opens, as on a share another machine may change.
    cfg->kernel_cache = 0;
    cfg->entry_timeout = 1;
    cfg->attr_timeout = 1;
    return nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: delayfs SOURCE MOUNTPOINT MICROSECONDS [fuse options]\n");
        return 2;
    }
    char *resolved = ::realpath(argv[1], nullptr);
    if (!resolved) {
        std::perror(argv[1]);
        return 1;
    }
    g_source = resolved;
    std::free(resolved);
    g_delay = std::chrono::microseconds(std::strtoll(argv[3], nullptr, 10));

    fuse_operations ops{};
    ops.getattr = getattr;
    ops.readlink = readlink;
    ops.opendir = opendir;
    ops.readdir = readdir;
    ops.releasedir = releasedir;
    ops.open = open;
    ops.read = read;
    ops.release = release;
    ops.statfs = statfs;
    ops.init = init;

    // Foreground, many threads, read-only, checked like any other file system.
    std::vector<char *> args = {argv[0], argv[2], const_cast<char *>("-f"), const_cast<char *>("-o"),
                                const_cast<char *>("ro,default_permissions,fsname=delayfs,max_threads=128,max_idle_threads=64")};
    for (int i = 4; i < argc; ++i)
        args.push_back(argv[i]);
    return fuse_main(int(args.size()), args.data(), &ops, nullptr);
}
