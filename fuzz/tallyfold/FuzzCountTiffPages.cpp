// Feeds arbitrary bytes, as a file, to the TIFF counting function. The function must return
// -2, -1 or a count of at least 0, and never crash, hang or leak.
#include "TiffPageCount.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

// One in-memory file reused for every input; the counter opens it by name.
int MemoryFile()
{
    static const int fd = [] {
        TIFFSetWarningHandler(nullptr); // keep the fuzzer's output readable
        TIFFSetErrorHandler(nullptr);
        return ::memfd_create("tallyfold-fuzz", 0);
    }();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = MemoryFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0)
        std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t w = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (w <= 0)
            std::abort();
        done += static_cast<size_t>(w);
    }
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const int32_t pages = tallyfold::CountTiffPages(name.c_str());
    if (pages < -2 || pages == -1)
        std::abort(); // the file always opens here, so -1 would be wrong
    return 0;
}
