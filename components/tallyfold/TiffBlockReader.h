// Reads one open file through a few cached blocks. libtiff asks for a directory a few bytes at a
// time (the entry count, the entries, the next link, each value stored out of line): about 45
// reads and 26 seeks for an ordinary file. Served from blocks, a small file costs one read.
// The blocks live as long as the reader, so a reader kept per thread or per counter allocates
// once, not per file. Plain reads, no memory map: a file truncated meanwhile just reads short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tallyfold {

class TiffBlockReader {
public:
    static constexpr std::size_t kBlockBytes = 16 * 1024;
    static constexpr int kBlocks = 4;

    TiffBlockReader() = default;
    TiffBlockReader(const TiffBlockReader&) = delete;
    TiffBlockReader& operator=(const TiffBlockReader&) = delete;

    // Starts on another file (not owned; the caller closes it). Forgets the previous file's blocks.
    void attach(int fd, uint64_t size);
    uint64_t size() const { return m_size; }

    // Copies up to n bytes from offset: fewer where the file ends, -1 when reading fails.
    int64_t read(uint64_t offset, void* dst, std::size_t n);

private:
    struct Block {
        uint64_t start = 0;
        std::size_t length = 0;   // what the file gave; short at its end
        uint64_t lastUse = 0;     // 0: holds nothing
    };

    // The block holding `offset`, reading it when needed; null when reading fails.
    const Block* blockAt(uint64_t offset);
    char* dataOf(const Block& b) { return m_data.get() + (&b - m_blocks) * kBlockBytes; }

    std::unique_ptr<char[]> m_data;   // kBlocks * kBlockBytes, allocated on first use
    Block m_blocks[kBlocks];
    uint64_t m_clock = 0;
    int m_fd = -1;
    uint64_t m_size = 0;
};

} // namespace tallyfold
