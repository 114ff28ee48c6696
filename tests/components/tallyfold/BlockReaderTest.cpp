// The counter reads through a few cached blocks instead of libtiff's own file reading. These
// tests hold it to what libtiff's own reading gives, on files larger than the blocks and on
// damaged and truncated copies, and check the reader's edges directly.
#include "TiffBlockReader.h"
#include "TiffPageCount.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <numeric>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

using tallyfold::TiffBlockReader;
constexpr std::size_t kBlock = TiffBlockReader::kBlockBytes;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qwblocks-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Pages whose image data is several blocks long, so the directories lie blocks apart and
// more directories are read than the reader keeps blocks.
bool WriteWideTiff(const std::string& path, int pages, bool bigTiff, bool bigEndian)
{
    std::string mode = std::string("w") + (bigTiff ? "8" : "") + (bigEndian ? "b" : "l");
    TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
    if (!tif)
        return false;
    const uint32_t width = 512, height = 96 + 7; // not a multiple of a block
    std::vector<unsigned char> row(width);
    bool ok = true;
    for (int p = 0; ok && p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8); // strip arrays stored out of line
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, p, pages);
        for (uint32_t y = 0; ok && y < height; ++y) {
            std::fill(row.begin(), row.end(), static_cast<unsigned char>(p + y));
            ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif) != 0;
    }
    TIFFClose(tif);
    return ok;
}

// What libtiff's own file reading counts: the reference the block reader must match.
int32_t CountWithLibtiffReads(const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "rm");
    if (!tif)
        return 0;
    int32_t n = 0;
    do
        ++n;
    while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return n;
}

std::vector<char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

bool WriteAll(const std::string& path, const std::vector<char>& bytes, std::size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(std::min(n, bytes.size())));
    return static_cast<bool>(out);
}

class BlockReaderCounts : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
    }
    TempDir dir;
};

TEST_F(BlockReaderCounts, FilesLargerThanTheBlocksCountLikeLibtiffReads)
{
    struct Kind {
        const char* name;
        bool bigTiff, bigEndian;
    } kinds[] = {{"classic", false, false}, {"bigendian", false, true},
                 {"bigtiff", true, false}, {"bigtiff-bigendian", true, true}};
    TiffBlockReader reader; // one reader across all files, as a counter keeps it
    for (const Kind& k : kinds) {
        const std::string path = dir.file(std::string(k.name) + ".tif");
        ASSERT_TRUE(WriteWideTiff(path, 2 * TiffBlockReader::kBlocks + 3, k.bigTiff, k.bigEndian));
        ASSERT_GT(std::filesystem::file_size(path), 4 * TiffBlockReader::kBlocks * kBlock);
        EXPECT_EQ(tallyfold::CountTiffPages(path.c_str(), reader), 2 * TiffBlockReader::kBlocks + 3)
            << k.name;
        EXPECT_EQ(tallyfold::CountTiffPages(path.c_str()), 2 * TiffBlockReader::kBlocks + 3) << k.name;
    }
}

// Cut anywhere (inside a directory, its strip arrays, the image data, right at a block's end),
// the file counts what libtiff's own reading counts: the blocks never serve bytes the file
// no longer has, nor stale bytes of the previous file.
TEST_F(BlockReaderCounts, TruncatedCopiesCountLikeLibtiffReads)
{
    const std::string whole = dir.file("whole.tif");
    ASSERT_TRUE(WriteWideTiff(whole, 6, false, false));
    const std::vector<char> bytes = ReadAll(whole);
    std::vector<std::size_t> cuts = {8, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock, bytes.size() - 1};
    for (std::size_t at = 100; at < bytes.size(); at += bytes.size() / 23)
        cuts.push_back(at);
    TiffBlockReader reader;
    for (std::size_t cut : cuts) {
        const std::string path = dir.file("cut" + std::to_string(cut) + ".tif");
        ASSERT_TRUE(WriteAll(path, bytes, cut));
        EXPECT_EQ(tallyfold::CountTiffPages(path.c_str(), reader), CountWithLibtiffReads(path))
            << "cut at " << cut;
        // The whole file again through the same reader: nothing of the cut copy remains.
        EXPECT_EQ(tallyfold::CountTiffPages(whole.c_str(), reader), 6) << "after cut at " << cut;
    }
}

// The reader on its own: a file of known bytes, reads placed at the blocks' edges.
class BlockReaderReads : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.file("bytes.bin");
        content.resize(3 * kBlock + 100);
        std::iota(content.begin(), content.end(), 0); // wraps every 256 bytes
        content[kBlock] = 'x'; // not the same pattern every block
        ASSERT_TRUE(WriteAll(path, content, content.size()));
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        reader.attach(fd, content.size());
    }
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
    }
    std::vector<char> expected(std::size_t offset, std::size_t n) const
    {
        if (offset >= content.size())
            return {};
        const std::size_t end = std::min(content.size(), offset + n);
        return {content.begin() + static_cast<std::ptrdiff_t>(offset),
                content.begin() + static_cast<std::ptrdiff_t>(end)};
    }

    TempDir dir;
    std::string path;
    std::vector<char> content;
    int fd = -1;
    TiffBlockReader reader;
};

TEST_F(BlockReaderReads, ReadsGiveTheFileBytesWhereverTheyFall)
{
    struct Read {
        std::size_t offset, n;
    };
    const std::size_t size = 3 * kBlock + 100;
    const Read reads[] = {
        {0, 4},                  // the signature
        {kBlock - 2, 4},         // across two blocks
        {kBlock - 1, kBlock - 1}, // nearly a block, across two
        {2 * kBlock - 10, kBlock + 20}, // a block or more: straight from the file
        {10, 3 * kBlock},        // large, from the first block on
        {size - 3, 10},          // past the end: what is there
        {size, 4},               // at the end: nothing
        {size + kBlock, 4},      // far beyond: nothing
        {5, 0},                  // nothing asked
        {kBlock + 7, 20},        // again after others: from a kept block
        {0, 4},
    };
    for (const Read& r : reads) {
        std::vector<char> got(r.n + 1, '\x7f');
        const int64_t n = reader.read(r.offset, got.data(), r.n);
        const std::vector<char> want = expected(r.offset, r.n);
        ASSERT_EQ(n, static_cast<int64_t>(want.size())) << "offset " << r.offset << " n " << r.n;
        got.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(got, want) << "offset " << r.offset << " n " << r.n;
    }
}

TEST_F(BlockReaderReads, AFileThatShrinksReadsShortInsteadOfFailing)
{
    char buf[16];
    ASSERT_EQ(reader.read(0, buf, sizeof buf), 16);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kBlock + 5)), 0);
    // The first block is kept; the rest of the file is read now and is shorter than it was.
    EXPECT_EQ(reader.read(kBlock, buf, sizeof buf), 5);
    EXPECT_EQ(reader.read(2 * kBlock, buf, sizeof buf), 0);
    EXPECT_EQ(reader.read(kBlock - 4, buf, 8), 8);
}

TEST_F(BlockReaderReads, AnUnreadableDescriptorIsAFailure)
{
    TiffBlockReader other;
    const int writeOnly = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writeOnly, 0);
    other.attach(writeOnly, content.size());
    char buf[8];
    EXPECT_EQ(other.read(0, buf, sizeof buf), -1);
    EXPECT_EQ(other.read(0, buf, 2 * kBlock), -1);
    ::close(writeOnly);
}

} // namespace
