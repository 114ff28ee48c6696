#include "TiffPageCount.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tiffio.h>

namespace tallyfold {

namespace {

// Classic TIFF in either byte order and BigTIFF in either byte order. libtiff reads all four.
bool HasTiffSignature(const unsigned char (&head)[8])
{
    return std::memcmp(head, "II*", 3) == 0 || std::memcmp(head, "II+", 3) == 0 ||
           std::memcmp(head, "MM\0*", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0;
}

} // namespace

int32_t CountTiffPages(const char* name, const std::atomic<bool>* abort)
{
    // Without blocking: a FIFO or device under a .tif name must not hold the caller until
    // someone writes to it. Only a regular file is counted.
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return kCannotOpen;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kCannotOpen;
    }
    unsigned char head[8] = {0};
    // A file shorter than the signature leaves zeros behind what it has.
    const ssize_t got = ::pread(fd, head, 4, 0);
    if (got < 0) {
        ::close(fd);
        return kCannotOpen;
    }
    if (!HasTiffSignature(head)) {
        ::close(fd);
        return kNotTiff;
    }

    // libtiff's default handlers report damage on standard error; the count is all we return.
    // "m": read, don't map. A mapped file that another program truncates meanwhile raises SIGBUS
    // on access and would take the whole program down; plain reads just fail.
    // TIFFFdOpen reads the very file checked above; TIFFClose closes it, a failed open does not.
    int32_t count = 0;
    TIFF* tif = TIFFFdOpen(fd, name, "rm");
    if (!tif)
        ::close(fd);
    if (tif) {
        // TIFFReadDirectory refuses a directory offset it has already read, so a chain that
        // points back ends here with the distinct directories counted.
        do {
            ++count;
            if (abort && abort->load(std::memory_order_relaxed)) {
                count = kGaveUp;
                break;
            }
        } while (TIFFReadDirectory(tif) && count < INT32_MAX);
        TIFFClose(tif);
    }
    return count;
}

} // namespace tallyfold
