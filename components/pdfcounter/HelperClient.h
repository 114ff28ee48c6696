#pragma once
// Runs page counts in a persistent helper process: starts it on first use, sends one path at a
// time, and replaces it when it overruns its bound or dies. The bound is the helper's CPU time on
// the file, so a busy machine does not change the answer; a wall-clock net well above it catches
// a helper that is stopped or starved. A call never waits much longer than the net.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
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

    // From any thread: ends the count in progress at once (it gives up; its helper is killed and
    // the next count starts a fresh one). Counts give up at once until resetAbort() is called.
    void abort();
    void resetAbort();

    // The running helper's process id, or -1 when none runs (for tests and diagnostics).
    pid_t helperPid() const;

private:
    enum class Exchange { Answered, Died, OverBound };

    bool start();
    void stop();
    bool usable();
    Exchange exchange(const std::string& path, int32_t& result);
    bool waitForAnswer(char* answer, std::size_t size);
    void reapStragglers();
    bool setBusy(pid_t pid);  // false when an abort is already asked for

    const std::string m_helperPath;
    const HelperLimits m_limits;
    mutable std::mutex m_mutex;  // one count at a time; guards the fields below
    int m_fd = -1;
    pid_t m_pid = -1;
    std::vector<pid_t> m_unreaped;

    // The abort's view: which helper works for the count in progress. A helper is reaped only
    // after it is no longer busy, so the pid an abort kills is always still our child.
    std::mutex m_abortMutex;
    bool m_abortAsked = false;
    pid_t m_busyPid = -1;
};

}  // namespace pdfcount
