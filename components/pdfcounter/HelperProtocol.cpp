#include "HelperProtocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pdfcount::wire {

bool Reader::take(void* out, std::size_t len)
{
    while (m_end - m_begin < len) {
        // Keep the unread part at the front, and room for the whole field behind it.
        if (m_begin > 0) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_buffer.size() < len)
            m_buffer.resize(len);
        const ssize_t n = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_end += static_cast<std::size_t>(n);
    }
    std::memcpy(out, m_buffer.data() + m_begin, len);
    m_begin += len;
    return true;
}

bool writeExact(int fd, const void* buf, std::size_t len)
{
    const auto* p = static_cast<const char*>(buf);
    while (len > 0) {
        // MSG_NOSIGNAL: a vanished peer must give EPIPE, never SIGPIPE.
        const ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace pdfcount::wire
