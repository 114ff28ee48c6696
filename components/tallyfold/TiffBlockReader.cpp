#include "TiffBlockReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tallyfold {

namespace {

// pread until n bytes or the end of the file; -1 on an error.
int64_t ReadFully(int fd, uint64_t offset, char* dst, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, dst + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<int64_t>(got);
}

} // namespace

void TiffBlockReader::attach(int fd, uint64_t size)
{
    m_fd = fd;
    m_size = size;
    for (Block& b : m_blocks)
        b = Block{};
    m_clock = 0;
}

const TiffBlockReader::Block* TiffBlockReader::blockAt(uint64_t offset)
{
    const uint64_t start = offset - offset % kBlockBytes;
    Block* oldest = &m_blocks[0];
    for (Block& b : m_blocks) {
        if (b.lastUse != 0 && b.start == start) {
            b.lastUse = ++m_clock;
            return &b;
        }
        if (b.lastUse < oldest->lastUse)
            oldest = &b;
    }
    if (!m_data)
        m_data = std::make_unique<char[]>(kBlockBytes * kBlocks);
    const int64_t got = ReadFully(m_fd, start, dataOf(*oldest), kBlockBytes);
    if (got < 0) {
        *oldest = Block{};
        return nullptr;
    }
    oldest->start = start;
    oldest->length = static_cast<std::size_t>(got);
    oldest->lastUse = ++m_clock;
    return oldest;
}

int64_t TiffBlockReader::read(uint64_t offset, void* dst, std::size_t n)
{
    char* out = static_cast<char*>(dst);
    // A request of a block or more (a long strip array) would only pass through the cache.
    if (n >= kBlockBytes)
        return ReadFully(m_fd, offset, out, n);
    std::size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const Block* b = blockAt(at);
        if (!b)
            return -1;
        const std::size_t inBlock = static_cast<std::size_t>(at - b->start);
        if (inBlock >= b->length)
            break; // the file ends here
        const std::size_t take = std::min(n - done, b->length - inBlock);
        std::memcpy(out + done, dataOf(*b) + inBlock, take);
        done += take;
        if (b->length < kBlockBytes)
            break; // a short block is the end of the file
    }
    return static_cast<int64_t>(done);
}

} // namespace tallyfold
