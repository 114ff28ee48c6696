#include "TiffPageCount.h"

#include "TiffBlockReader.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tiffio.h>

namespace tallyfold {

namespace {

// Handlers that swallow the message: returning 1 tells libtiff it was handled.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Options shared by every open (TIFFClientOpenExt only reads them); freed when the library goes.
TIFFOpenOptions* quietOptions()
{
    struct Options {
        TIFFOpenOptions* const options = TIFFOpenOptionsAlloc();
        Options()
        {
            TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
            TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
        }
        ~Options() { TIFFOpenOptionsFree(options); }
    };
    static const Options quiet;
    return quiet.options;
}

// Classic TIFF in either byte order and BigTIFF in either byte order. libtiff reads all four.
bool HasTiffSignature(const unsigned char (&head)[8])
{
    return std::memcmp(head, "II*", 3) == 0 || std::memcmp(head, "II+", 3) == 0 ||
           std::memcmp(head, "MM\0*", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0;
}

// libtiff's view of the file: a position over the block reader.
struct ClientFile {
    TiffBlockReader* reader;
    uint64_t position = 0;
};

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t size)
{
    auto* f = static_cast<ClientFile*>(h);
    if (size < 0)
        return -1;
    const int64_t got = f->reader->read(f->position, buf, static_cast<std::size_t>(size));
    if (got > 0)
        f->position += static_cast<uint64_t>(got);
    return static_cast<tmsize_t>(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t h, toff_t offset, int whence)
{
    auto* f = static_cast<ClientFile*>(h);
    uint64_t base = 0;
    switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = f->position; break;
    case SEEK_END: base = f->reader->size(); break;
    default: return static_cast<toff_t>(-1);
    }
    // Offsets come from the file itself; one that wraps around is refused like lseek would.
    if (offset > UINT64_MAX - base || base + offset > static_cast<uint64_t>(INT64_MAX))
        return static_cast<toff_t>(-1);
    f->position = base + offset;
    return f->position;
}

int CloseProc(thandle_t) { return 0; } // the caller closes the descriptor

toff_t SizeProc(thandle_t h) { return static_cast<ClientFile*>(h)->reader->size(); }

int MapProc(thandle_t, void**, toff_t*) { return 0; }

void UnmapProc(thandle_t, void*, toff_t) {}

} // namespace

int32_t CountTiffPages(const char* name, const std::atomic<bool>* abort)
{
    // One reader per thread: its blocks are allocated once, not for every file.
    thread_local TiffBlockReader reader;
    return CountTiffPages(name, reader, abort);
}

int32_t CountTiffPages(const char* name, TiffBlockReader& reader, const std::atomic<bool>* abort)
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
    // The signature comes from the first block, which libtiff reads next anyway.
    reader.attach(fd, static_cast<uint64_t>(st.st_size));
    unsigned char head[8] = {0};
    // A file shorter than the signature leaves zeros behind what it has.
    const int64_t got = reader.read(0, head, 4);
    if (got < 0 || !HasTiffSignature(head)) {
        reader.attach(-1, 0);
        ::close(fd);
        return got < 0 ? kCannotOpen : kNotTiff;
    }

    // libtiff's default handlers would report damage on the host program's standard error; the
    // count is all we return, so this file's messages go nowhere (other libtiff users keep theirs).
    // "m": read, don't map. A mapped file that another program truncates meanwhile raises SIGBUS
    // on access and would take the whole program down; plain reads just fail.
    // libtiff reads the very file checked above, through the reader's blocks.
    ClientFile file{&reader};
    int32_t count = 0;
    TIFF* tif = TIFFClientOpenExt(name, "rm", &file, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, quietOptions());
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
    reader.attach(-1, 0);
    ::close(fd);
    return count;
}

} // namespace tallyfold
