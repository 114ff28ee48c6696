#include "TiffPageCount.h"

#include <cstdio>
#include <cstring>
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

int32_t CountTiffPages(const char* name)
{
    std::FILE* file = std::fopen(name, "rb");
    if (!file)
        return kCannotOpen;
    unsigned char head[8] = {0};
    // A file shorter than the signature leaves zeros behind what it has.
    const size_t got = std::fread(head, 1, 4, file);
    // A folder opens here but cannot be read: it cannot be opened for reading as a file.
    const bool unreadable = got < 4 && std::ferror(file);
    std::fclose(file);
    if (unreadable)
        return kCannotOpen;
    if (!HasTiffSignature(head))
        return kNotTiff;

    // libtiff's default handlers report damage on standard error; the count is all we return.
    // "m": read, don't map. A mapped file that another program truncates meanwhile raises SIGBUS
    // on access and would take the whole program down; plain reads just fail.
    int32_t count = 0;
    if (TIFF* tif = TIFFOpen(name, "rm")) {
        // TIFFReadDirectory refuses a directory offset it has already read, so a chain that
        // points back ends here with the distinct directories counted.
        do {
            ++count;
        } while (TIFFReadDirectory(tif) && count < INT32_MAX);
        TIFFClose(tif);
    }
    return count;
}

} // namespace tallyfold
