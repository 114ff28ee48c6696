// Test files made at test time: TIFFs written with libtiff, damaged copies, other formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tifftest {

struct Layout {
    int pages = 1;
    bool bigEndian = false;
    bool bigTiff = false;
    bool subIfdOnFirstPage = false;   // the first page carries one SubIFD (a thumbnail)
    bool reducedSecondPage = false;   // the second main-chain page is a reduced-resolution image
};

// Writes a TIFF with `layout.pages` small greyscale pages in the main chain; false on failure.
bool WriteTiff(const std::string& path, const Layout& layout);
bool WriteBytes(const std::string& path, const std::string& bytes);

// Offsets of the main-chain directories of a little-endian classic TIFF.
std::vector<uint32_t> DirectoryOffsets(const std::string& path);
// Patches 2 or 4 little-endian bytes at `offset`.
bool Patch16(const std::string& path, uint32_t offset, uint16_t value);
bool Patch32(const std::string& path, uint32_t offset, uint32_t value);
// The file offset of the "next directory" link of the directory at dirOffset.
uint32_t NextLinkOffset(const std::string& path, uint32_t dirOffset);

} // namespace tifftest
