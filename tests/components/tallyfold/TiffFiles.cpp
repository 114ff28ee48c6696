#include "TiffFiles.h"

#include <cstdio>
#include <fstream>
#include <tiffio.h>

namespace tifftest {

namespace {

bool WritePage(TIFF* tif, uint32_t width, uint32_t height, bool reduced)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    if (reduced)
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    std::vector<unsigned char> row(width, 0x80);
    for (uint32_t y = 0; y < height; ++y)
        if (TIFFWriteScanline(tif, row.data(), y, 0) < 0)
            return false;
    return TIFFWriteDirectory(tif) != 0;
}

std::vector<unsigned char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<unsigned char>& b, size_t at)
{
    if (at + 4 > b.size())
        return 0;
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const std::vector<unsigned char>& b, size_t at)
{
    if (at + 2 > b.size())
        return 0;
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

bool PatchBytes(const std::string& path, uint32_t offset, const unsigned char* bytes, size_t n)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        return false;
    const bool ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
                    std::fwrite(bytes, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

} // namespace

bool WriteTiff(const std::string& path, const Layout& layout)
{
    std::string mode = "w";
    if (layout.bigTiff)
        mode += "8";
    mode += layout.bigEndian ? "b" : "l";
    TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
    if (!tif)
        return false;
    bool ok = true;
    for (int page = 0; ok && page < layout.pages; ++page) {
        if (page == 0 && layout.subIfdOnFirstPage) {
            toff_t placeholder[1] = {0};
            TIFFSetField(tif, TIFFTAG_SUBIFD, 1, placeholder);
            ok = WritePage(tif, 16, 8, false) && WritePage(tif, 4, 2, true); // the SubIFD
            continue;
        }
        ok = WritePage(tif, 16 + static_cast<uint32_t>(page), 8,
                       layout.reducedSecondPage && page == 1);
    }
    TIFFClose(tif);
    return ok;
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint32_t> DirectoryOffsets(const std::string& path)
{
    const std::vector<unsigned char> b = ReadAll(path);
    std::vector<uint32_t> out;
    uint32_t off = Le32(b, 4);
    while (off != 0 && out.size() < 1000) {
        out.push_back(off);
        off = Le32(b, off + 2 + 12u * Le16(b, off));
    }
    return out;
}

uint32_t NextLinkOffset(const std::string& path, uint32_t dirOffset)
{
    const std::vector<unsigned char> b = ReadAll(path);
    return dirOffset + 2 + 12u * Le16(b, dirOffset);
}

bool Patch16(const std::string& path, uint32_t offset, uint16_t v)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    return PatchBytes(path, offset, bytes, 2);
}

bool Patch32(const std::string& path, uint32_t offset, uint32_t v)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 24)};
    return PatchBytes(path, offset, bytes, 4);
}

} // namespace tifftest
