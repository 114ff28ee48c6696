#pragma once
// Runs page counts in a persistent helper process: starts it on first use, sends one path at a
// time (or several ahead, see sendAhead), and replaces it when it overruns its bound or dies. The bound is the helper's CPU time on
// the file, so a busy machine does not change the answer; a wall-clock net well above it catches
// a helper that is stopped or starved. A call never waits much longer than the net.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace pdfcount {

struct HelperLimits {
    std::chrono::milliseconds cpu{10'000};       // the helper's CPU time on one file
    std::chrono::milliseconds wallNet{30'000};   // wall time on one file, whatever the CPU
};

class HelperClient {
public:
    HelperClient(std::string helperPath, HelperLimits limits);
    ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // The page count or a negative outcome; GaveUp when a bound is hit, the call is aborted, the
    // helper dies on this file twice, or it cannot be started at all. One call at a time.
    int32_t count(const std::string& path);
    // Sends the helper the files the next count calls will ask for, in that order, so it counts
    // them back to back; those calls then only wait for their answers. Takes a leading part of
    // the list (a bounded number of bytes in flight, ordinary paths only) and returns how many.
    // A count for any other file than the next one sent drops the rest (the helper is replaced).
    std::size_t sendAhead(const std::vector<std::string>& paths);
    // How many files were sent ahead and not yet asked for.
    std::size_t sentAhead() const;
    // Drops the files sent ahead, if any (their helper is replaced).
    void dropSentAhead();

    // From any thread: ends the count in progress at once (it gives up; its helper is killed and
    // the next count starts a fresh one). Counts give up at once until resetAbort() is called.
    void abort();
    void resetAbort();

    // The running helper's process id, or -1 when none runs (for tests and diagnostics).
    pid_t helperPid() const;

    // Called between the helper's check and its start, with the path it was found at: lets a test
    // replace the file there and see that what was checked is what runs. Null removes it.
    using BeforeStartHook = void (*)(const std::string& resolved, void* context);
    static void setBeforeStartHook(BeforeStartHook hook, void* context);

private:
    enum class Exchange { Answered, Died, OverBound };

    bool start();
    // Says once per helper path, on standard error, why it cannot be started.
    static void tellOnce(const std::string& path, const std::string& reason, bool refused);
    void stop();
    bool usable();
    // alreadySent: the request went ahead with sendAhead; only its answer is awaited.
    Exchange exchange(const std::string& path, bool alreadySent, int32_t& result);
    bool waitForAnswer(char* answer, std::size_t size);
    void reapStragglers();
    bool setBusy(pid_t pid);  // false when an abort is already asked for

    const std::string m_helperPath;
    const HelperLimits m_limits;
    mutable std::mutex m_mutex;  // one count at a time; guards the fields below
    int m_fd = -1;
    pid_t m_pid = -1;
    std::vector<pid_t> m_unreaped;
    std::deque<std::string> m_sent;  // sent ahead, answers not yet read, oldest first
    std::size_t m_sentBytes = 0;

    // The abort's view: which helper works for the count in progress. A helper is reaped only
    // after it is no longer busy, so the pid an abort kills is always still our child.
    std::mutex m_abortMutex;
    bool m_abortAsked = false;
    pid_t m_busyPid = -1;
};

}  // namespace pdfcount
