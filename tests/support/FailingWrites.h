// Ways to make a real write fail, for the tests of every file writer.
//   FileSizeLimit: while it lives, no write of this process may make a file larger than the
//     given size (RLIMIT_FSIZE; the write fails with EFBIG instead of raising SIGXFSZ).
//   TinyFileSystem: a 64 KiB tmpfs mounted at a fresh folder, filled up to the last few bytes so
//     that a write fails with ENOSPC. Needs the right to mount (root); available() says whether
//     the mount worked, so only that variant is skipped elsewhere.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>

namespace failing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
};

class TinyFileSystem {
public:
    TinyFileSystem()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qwfull-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return;
        m_dir = pattern;
        m_mounted = ::mount("none", m_dir.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~TinyFileSystem()
    {
        if (m_mounted)
            ::umount(m_dir.c_str());
        std::error_code ec;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ec);
    }
    TinyFileSystem(const TinyFileSystem&) = delete;
    TinyFileSystem& operator=(const TinyFileSystem&) = delete;

    bool available() const { return m_mounted; }
    const std::string& dir() const { return m_dir; }
    // Takes all free space but `spare` bytes (blocks are 4 KiB, so very little is left).
    void fill(size_t spare = 0)
    {
        const std::string filler = m_dir + "/filler";
        if (std::FILE* f = std::fopen(filler.c_str(), "wb")) {
            const std::string block(1024, 'x');
            while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
            }
            std::fclose(f);
        }
        if (spare > 0) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(filler, ec);
            if (!ec)
                std::filesystem::resize_file(filler, size > spare ? size - spare : 0, ec);
        }
    }

private:
    std::string m_dir;
    bool m_mounted = false;
};

} // namespace failing
