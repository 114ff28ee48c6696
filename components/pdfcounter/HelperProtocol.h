#pragma once
// The wire between the component and its counting helper: one stream socket on the helper's
// standard input. A request is a 32-bit length followed by that many bytes of file path; the
// answer is one 32-bit result. Both in host byte order: the two ends are always the same build.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pdfcount::wire {

// Longer paths are refused by both ends; Linux paths stop at PATH_MAX (4096) anyway.
constexpr std::uint32_t MaxPathBytes = 64 * 1024;

// The helper's file name, in the same folder as the component library.
constexpr const char* HelperFileName = "pdfcounter-helper";

// Blocking full-length write; false when the peer is gone or on error.
bool writeExact(int fd, const void* buf, std::size_t len);

// Reads the stream in chunks: requests sent ahead arrive together and are taken one by one
// without a read per field.
class Reader {
public:
    explicit Reader(int fd) : m_fd(fd) {}
    // Exactly len bytes (at most MaxPathBytes) into out; false on end of stream or error.
    bool take(void* out, std::size_t len);

private:
    int m_fd;
    std::vector<char> m_buffer = std::vector<char>(16 * 1024);
    std::size_t m_begin = 0, m_end = 0;  // unread bytes are [m_begin, m_end)
};

}  // namespace pdfcount::wire
