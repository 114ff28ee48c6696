// The counting helper: reads file paths from the socket on standard input and answers each with
// its page count. It runs the PDF readers in a process of its own so that a file that makes them
// hang, crash or eat memory costs the caller one "gave up" result and nothing else.

#include "HelperProtocol.h"
#include "PdfPageCount.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#ifdef PDFCOUNT_HELPER_TEST_HOOKS
#include <vector>
#endif

namespace {

// Working memory the readers may use on top of the file's bytes and what is already in use.
constexpr rlim_t ReaderBudgetBytes = rlim_t(1) << 30;

// Address space in use, from /proc/self/statm kept open and read again from its start for each
// file (one call instead of open, read and close); 0 when it cannot be read.
rlim_t addressSpaceInUse()
{
    static const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    char text[64];
    const ssize_t n = statm >= 0 ? ::pread(statm, text, sizeof text - 1, 0) : -1;
    if (n <= 0)
        return 0;
    text[n] = '\0';
    return rlim_t(std::strtoull(text, nullptr, 10)) * rlim_t(sysconf(_SC_PAGESIZE));
}

// The hard limit does not change while the helper runs: read once.
rlim_t hardAddressSpaceLimit()
{
    static const rlim_t hard = [] {
        rlimit lim{};
        return getrlimit(RLIMIT_AS, &lim) == 0 ? lim.rlim_max : RLIM_INFINITY;
    }();
    return hard;
}

void setAddressSpaceLimit(rlim_t soft)
{
    const rlim_t hard = hardAddressSpaceLimit();
    const rlimit lim{hard != RLIM_INFINITY && soft > hard ? hard : soft, hard};
    setrlimit(RLIMIT_AS, &lim);
}

#ifdef PDFCOUNT_HELPER_TEST_HOOKS
bool endsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Test builds only: file names that make the helper misbehave on purpose.
bool testHook(const std::string& path, int32_t& result)
{
    // "name.sleep-1500.pdf": idle this many milliseconds, then count as usual.
    if (const auto at = path.rfind(".sleep-"); at != std::string::npos && endsWith(path, ".pdf")) {
        const long ms = std::strtol(path.c_str() + at + 7, nullptr, 10);
        timespec left{ms / 1000, (ms % 1000) * 1'000'000};
        while (nanosleep(&left, &left) != 0) {
        }
        return false;
    }
    if (endsWith(path, ".spin.pdf")) {
        for (;;)
            asm volatile("" ::: "memory");  // burns CPU time; never optimised away
    }
    if (endsWith(path, ".stall.pdf")) {
        for (;;)
            pause();
    }
    if (endsWith(path, ".crash.pdf"))
        std::abort();
    if (endsWith(path, ".hog.pdf")) {
        // Reserve address space until the limit stops it; a missing limit shows up as 0.
        std::vector<void*> blocks;
        result = 0;
        for (int i = 0; i < 256; ++i) {
            void* p = std::malloc(std::size_t(64) << 20);
            if (!p) {
                result = pdfcount::GaveUp;
                break;
            }
            blocks.push_back(p);
        }
        for (void* p : blocks)
            std::free(p);
        return true;
    }
    return false;
}
#endif

int32_t countOne(pdfcount::FileBytes& file, const std::string& path)
{
    // Lift the previous file's limit first: the next file may be larger.
    setAddressSpaceLimit(RLIM_INFINITY);
    if (const int32_t rc = file.open(path.c_str()); rc != 0)
        return rc;
    setAddressSpaceLimit(addressSpaceInUse() + ReaderBudgetBytes);
#ifdef PDFCOUNT_HELPER_TEST_HOOKS
    if (int32_t hooked = 0; testHook(path, hooked))
        return hooked;
#endif
    const int32_t pages = pdfcount::countPages(file.bytes());
    file.close();
    return pages;
}

// Each start appends one line (this process's id) to the file named by QW_PDFCOUNTER_HELPER_LOG,
// so tests can count how many helpers a run has started.
void logStart()
{
    const char* log = std::getenv("QW_PDFCOUNTER_HELPER_LOG");
    if (!log || !*log)
        return;
    const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    const std::string line = std::to_string(getpid()) + "\n";
    if (::write(fd, line.data(), line.size()) < 0) {
        // Nothing to do: the log is a test aid.
    }
    ::close(fd);
}

// Never outlive the program that started us, even while stuck in a reader. (A parent-death
// signal would not do: it follows the thread that started us, and the program's counting threads
// come and go while this helper is meant to serve them all.)
void watchParent(pid_t parent)
{
    std::thread([parent] {
        while (getppid() == parent) {
            const timespec second{1, 0};
            nanosleep(&second, nullptr);
        }
        _exit(0);
    }).detach();
}

}  // namespace

// The program passes its process id, so a helper whose program is gone before this line runs
// ends as well.
int main(int argc, char** argv)
{
    watchParent(argc > 1 ? static_cast<pid_t>(std::atol(argv[1])) : getppid());
    logStart();
    std::signal(SIGPIPE, SIG_IGN);
    constexpr int channel = 0;
    pdfcount::FileBytes file;  // its buffer serves every file
    pdfcount::wire::Reader requests(channel);
    for (;;) {
        std::uint32_t len = 0;
        if (!requests.take(&len, sizeof len))
            return 0;
        if (len > pdfcount::wire::MaxPathBytes)
            return 1;
        std::string path(len, '\0');
        if (!requests.take(path.data(), len))
            return 0;
        const int32_t result = countOne(file, path);
        if (!pdfcount::wire::writeExact(channel, &result, sizeof result))
            return 0;
    }
}
