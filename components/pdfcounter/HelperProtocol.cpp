#include "HelperProtocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pdfcount::wire {

bool readExact(int fd, void* buf, std::size_t len)
{
    auto* p = static_cast<char*>(buf);
    while (len > 0) {
        const ssize_t n = ::read(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
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
