// Removes a folder tree through descriptors, so paths longer than the system accepts go too.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

inline void removeTree(int parent, const char *name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR *d = ::fdopendir(fd);
    while (const dirent *e = ::readdir(d)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..")
            continue;
        if (e->d_type == DT_DIR)
            removeTree(::dirfd(d), entry.c_str());
        else
            ::unlinkat(::dirfd(d), entry.c_str(), 0);
    }
    ::closedir(d);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}
