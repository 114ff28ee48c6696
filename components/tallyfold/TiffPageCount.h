// Counting the pages of a TIFF file: the image directories of its main chain.
#pragma once

#include "PageCountResult.h"

#include <atomic>
#include <cstdint>

namespace tallyfold {

class TiffBlockReader;

// Page counts for a file named in the platform's narrow encoding (UTF-8 bytes here):
// 0 or more pages; -1 the file cannot be opened; -2 the file does not start with a TIFF
// signature ("II*", "II+", "MM\0*" or "MM\0+"). 0 when the signature is there but libtiff cannot
// open the file. A damaged later directory ends the count; so does a chain that points back.
constexpr int32_t kCannotOpen = pagecount::CannotOpen;
constexpr int32_t kNotTiff = pagecount::WrongSignature;
// abort, when given, is checked between directories: once set, the count stops with kGaveUp.
constexpr int32_t kGaveUp = pagecount::GaveUp;
// Reads through a block reader kept per thread.
int32_t CountTiffPages(const char* name, const std::atomic<bool>* abort = nullptr);
// Reads through the caller's block reader (one call at a time per reader).
int32_t CountTiffPages(const char* name, TiffBlockReader& reader,
                       const std::atomic<bool>* abort = nullptr);

} // namespace tallyfold
