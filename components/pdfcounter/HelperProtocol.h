#pragma once
// The wire between the component and its counting helper: one stream socket on the helper's
// standard input. A request is a 32-bit length followed by that many bytes of file path; the
// answer is one 32-bit result. Both in host byte order: the two ends are always the same build.

#include <cstddef>
#include <cstdint>

namespace pdfcount::wire {

// Longer paths are refused by both ends; Linux paths stop at PATH_MAX (4096) anyway.
constexpr std::uint32_t MaxPathBytes = 64 * 1024;

// The helper's file name, in the same folder as the component library.
constexpr const char* HelperFileName = "pdfcounter-helper";

// Blocking full-length transfers; false on end of stream or error.
bool readExact(int fd, void* buf, std::size_t len);
bool writeExact(int fd, const void* buf, std::size_t len);

}  // namespace pdfcount::wire
