#pragma once
// Runs page counts in a persistent helper process: starts it on first use, sends one path at a
// time, and replaces it when it overruns the time bound or dies. A call never waits much longer
// than the bound, whatever the file or the helper does.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace pdfcount {

class HelperClient {
public:
    HelperClient(std::string helperPath, std::chrono::milliseconds timeout);
    ~HelperClient();
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;

    // The page count or a negative outcome; GaveUp when the bound is hit, the helper dies on
    // this file twice, or it cannot be started at all.
    int32_t count(const std::string& path);

    // The running helper's process id, or -1 when none runs (for tests and diagnostics).
    pid_t helperPid() const;

private:
    enum class Exchange { Answered, Died, TimedOut };

    bool start();
    void stop();
    bool usable();
    Exchange exchange(const std::string& path, std::chrono::steady_clock::time_point deadline,
                      int32_t& result);
    void reapStragglers();

    const std::string m_helperPath;
    const std::chrono::milliseconds m_timeout;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    pid_t m_pid = -1;
    std::vector<pid_t> m_unreaped;
};

}  // namespace pdfcount
