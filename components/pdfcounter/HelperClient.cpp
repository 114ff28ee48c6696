#include "HelperClient.h"

#include "FileAccess.h"
#include "HelperProtocol.h"
#include "PdfPageCount.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

extern char** environ;

namespace pdfcount {
namespace {

using namespace std::chrono;

// Reaps a killed child, waiting at most about this long; a child stuck in the kernel (a hung
// network file) is reaped later instead of holding up the caller.
constexpr int ReapPolls = 100;
constexpr long ReapPollNanoseconds = 1'000'000;

// How often a waiting call looks at the helper's CPU time at most; between looks it sleeps on
// the socket, so an answer is taken at once.
constexpr milliseconds LongestWait{1000};

// Requests sent ahead stay far below a socket's buffer, so sending them never waits on a helper
// that is busy (or stuck) with an earlier file.
constexpr std::size_t MostBytesAhead = 16 * 1024;
constexpr std::size_t MostFilesAhead = 64;
constexpr std::size_t LongestPathAhead = 4096;

bool tryReap(pid_t pid)
{
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

// CPU time the process has used so far, or nothing when it cannot be read.
bool cpuTime(pid_t pid, nanoseconds& out)
{
    clockid_t clock{};
    timespec ts{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0)
        return false;
    out = seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec);
    return true;
}

std::atomic<HelperClient::BeforeStartHook> g_beforeStart{nullptr};
std::atomic<void*> g_beforeStartContext{nullptr};

}  // namespace

void HelperClient::setBeforeStartHook(BeforeStartHook hook, void* context)
{
    g_beforeStartContext.store(context);
    g_beforeStart.store(hook);
}

HelperClient::HelperClient(std::string helperPath, HelperLimits limits)
    : m_helperPath(std::move(helperPath)), m_limits(limits)
{
}

HelperClient::~HelperClient()
{
    std::lock_guard lock(m_mutex);
    stop();
    reapStragglers();
}

pid_t HelperClient::helperPid() const
{
    std::lock_guard lock(m_mutex);
    return m_pid;
}

bool HelperClient::start()
{
    // The helper that was checked is the one that runs: it is started through its descriptor, so
    // nothing put in its place meanwhile ever runs with our rights.
    const comrt::CheckedFile helper(m_helperPath);
    if (helper.outcome() != comrt::CheckedFile::Outcome::Open) {
        tellOnce(m_helperPath, helper.reason(),
                 helper.outcome() == comrt::CheckedFile::Outcome::Unsafe);
        return false;
    }
    if (const BeforeStartHook hook = g_beforeStart.load())
        hook(helper.resolved(), g_beforeStartContext.load());
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    // The child says here why it could not start the helper; an exec that works closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    // Everything the child needs is made before it exists: it may only make system calls.
    std::string parent = std::to_string(getpid());
    char* argv[] = {const_cast<char*>(m_helperPath.c_str()), parent.data(), nullptr};
    sigset_t none;
    sigemptyset(&none);
    const int helperFd = helper.descriptor();

    const pid_t pid = fork();
    if (pid == 0) {
        // The helper talks on its standard input; its output goes nowhere.
        if (fds[1] == 0)
            fcntl(0, F_SETFD, 0);
        else
            dup2(fds[1], 0);
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, 1);
            dup2(devNull, 2);
        }
        // Whatever the caller did to its signals must not leak into the helper.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            sigaction(sig, &fallback, nullptr);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        fexecve(helperFd, argv, environ);
        const int err = errno;
        (void)!write(report[1], &err, sizeof err);
        _exit(127);
    }
    ::close(fds[1]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(fds[0]);
        ::close(report[0]);
        return false;
    }
    int err = 0;
    ssize_t got = 0;
    do
        got = read(report[0], &err, sizeof err);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got > 0) {
        tellOnce(m_helperPath, std::strerror(err), false);
        ::close(fds[0]);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return false;
    }
    m_fd = fds[0];
    m_pid = pid;
    return true;
}

void HelperClient::tellOnce(const std::string& path, const std::string& reason, bool refused)
{
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (told.insert(path).second)
        std::fprintf(stderr, "%s %s: %s\n", refused ? "refusing to start" : "cannot start",
                     path.c_str(), reason.c_str());
}

void HelperClient::stop()
{
    m_sent.clear();
    m_sentBytes = 0;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        bool reaped = false;
        for (int i = 0; i < ReapPolls && !(reaped = tryReap(m_pid)); ++i) {
            const timespec pause{0, ReapPollNanoseconds};
            nanosleep(&pause, nullptr);
        }
        if (!reaped)
            m_unreaped.push_back(m_pid);
        m_pid = -1;
    }
}

void HelperClient::reapStragglers()
{
    std::erase_if(m_unreaped, [](pid_t pid) { return tryReap(pid); });
}

// A helper that has exited, or has something unasked-for on its socket, is not reused.
bool HelperClient::usable()
{
    if (m_pid <= 0 || m_fd < 0)
        return false;
    if (tryReap(m_pid)) {
        m_pid = -1;
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

bool HelperClient::setBusy(pid_t pid)
{
    std::lock_guard lock(m_abortMutex);
    m_busyPid = pid;
    return !m_abortAsked;
}

void HelperClient::abort()
{
    std::lock_guard lock(m_abortMutex);
    m_abortAsked = true;
    if (m_busyPid > 0)
        kill(m_busyPid, SIGKILL);
}

void HelperClient::resetAbort()
{
    std::lock_guard lock(m_abortMutex);
    m_abortAsked = false;
}

HelperClient::Exchange HelperClient::exchange(const std::string& path, bool alreadySent, int32_t& result)
{
    char answer[sizeof(int32_t)];
    std::size_t got = 0;
    // A file sent ahead is often answered already: take it without looking at the clocks.
    if (alreadySent) {
        const ssize_t n = recv(m_fd, answer, sizeof answer, MSG_DONTWAIT);
        if (n == 0)
            return Exchange::Died;
        if (n > 0)
            got = static_cast<std::size_t>(n);
        if (got == sizeof answer) {
            std::memcpy(&result, answer, sizeof result);
            return Exchange::Answered;
        }
    }
    // For a file sent ahead the helper may have started on it a moment ago: the bounds run from
    // when this call starts waiting, which is as soon as the previous answer was taken.
    nanoseconds cpuAtStart{};
    const bool cpuKnown = cpuTime(m_pid, cpuAtStart);
    const auto wallStart = steady_clock::now();
    if (!alreadySent) {
        const auto len = static_cast<std::uint32_t>(path.size());
        if (!wire::writeExact(m_fd, &len, sizeof len) || !wire::writeExact(m_fd, path.data(), len))
            return Exchange::Died;
    }

    while (got < sizeof answer) {
        const auto wall = steady_clock::now() - wallStart;
        // Without a readable CPU clock, wall time stands in for it: never more lenient.
        nanoseconds cpuNow{};
        const auto cpu = cpuKnown && cpuTime(m_pid, cpuNow) ? cpuNow - cpuAtStart
                                                              : duration_cast<nanoseconds>(wall);
        if (wall >= m_limits.wallNet || cpu >= m_limits.cpu)
            return Exchange::OverBound;
        // CPU time grows no faster than wall time for a single-threaded helper, so nothing can
        // change before the smaller of the two budgets' remainders has passed.
        const auto wait = std::clamp(
            duration_cast<milliseconds>(std::min(m_limits.cpu - cpu, m_limits.wallNet - wall)) +
                milliseconds(1),
            milliseconds(1), LongestWait);
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Exchange::Died;
        if (ready == 0)
            continue;
        const ssize_t n = recv(m_fd, answer + got, sizeof answer - got, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Exchange::Died;
        got += static_cast<std::size_t>(n);
    }
    std::memcpy(&result, answer, sizeof result);
    return Exchange::Answered;
}

int32_t HelperClient::count(const std::string& path)
{
    // An embedded NUL would silently name a different file.
    if (path.empty() || path.size() > wire::MaxPathBytes || path.find('\0') != std::string::npos)
        return CannotOpen;
    std::lock_guard lock(m_mutex);
    reapStragglers();
    // Answers come in the order the files were sent: another file first means the rest is stale.
    if (!m_sent.empty() && m_sent.front() != path)
        stop();

    // A helper that was already running may have died between calls: one fresh attempt is fair.
    // A helper started for this very file that dies on it has met a file it cannot survive.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool fresh = false;
        // With files sent ahead, answers may already wait on the socket; a dead helper shows as
        // the end of the stream instead.
        const bool alreadySent = !m_sent.empty();
        if (!alreadySent && !usable()) {
            stop();
            if (!start())
                return GaveUp;
            fresh = true;
        }
        int32_t result = 0;
        if (!setBusy(m_pid)) {
            setBusy(-1);
            return GaveUp;
        }
        const Exchange outcome = exchange(path, alreadySent, result);
        // Not busy any more before anything below may reap it.
        const bool aborted = !setBusy(-1);
        if (outcome == Exchange::Answered) {
            if (alreadySent) {
                m_sentBytes -= sizeof(std::uint32_t) + m_sent.front().size();
                m_sent.pop_front();
            }
            return result;
        }
        stop();
        if (outcome == Exchange::OverBound || aborted || fresh)
            return GaveUp;
    }
    return GaveUp;
}

std::size_t HelperClient::sendAhead(const std::vector<std::string>& paths)
{
    std::lock_guard lock(m_mutex);
    reapStragglers();
    if (m_sent.empty() && !usable()) {
        stop();
        if (!start())
            return 0;
    }
    // One write for all of them; only a leading run of ordinary paths, so the calls that follow
    // meet them in order.
    std::string wireBytes;
    std::size_t taken = 0;
    std::size_t bytes = m_sentBytes;
    for (const std::string& path : paths) {
        const std::size_t size = sizeof(std::uint32_t) + path.size();
        if (path.empty() || path.size() > LongestPathAhead || path.find('\0') != std::string::npos ||
            bytes + size > MostBytesAhead || m_sent.size() + taken >= MostFilesAhead)
            break;
        const auto len = static_cast<std::uint32_t>(path.size());
        wireBytes.append(reinterpret_cast<const char*>(&len), sizeof len);
        wireBytes.append(path);
        bytes += size;
        ++taken;
    }
    if (taken == 0)
        return 0;
    if (!wire::writeExact(m_fd, wireBytes.data(), wireBytes.size())) {
        stop();
        return 0;
    }
    m_sent.insert(m_sent.end(), paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(taken));
    m_sentBytes = bytes;
    return taken;
}

std::size_t HelperClient::sentAhead() const
{
    std::lock_guard lock(m_mutex);
    return m_sent.size();
}

void HelperClient::dropSentAhead()
{
    std::lock_guard lock(m_mutex);
    if (!m_sent.empty())
        stop();
}

}  // namespace pdfcount
