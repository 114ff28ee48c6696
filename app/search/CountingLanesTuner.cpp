#include "CountingLanesTuner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace search::detail {

namespace {

// Too little to judge by: a few files, or a moment.
constexpr int64_t kFewestFiles = 4;
constexpr double kShortestSample = 0.05;
// A lane busy on the processor for less than this share of its time is waiting on I/O.
constexpr double kWaitingShare = 0.5;
// The share of the processors that growing lanes aim to keep busy.
constexpr double kTargetUse = 0.8;
// ... and for more than this it is bound by the processor.
constexpr double kBusyShare = 0.75;
// The machine's processors this busy: more lanes would only queue for them.
constexpr double kProcessorsFull = 0.85;

}  // namespace

int CountingLanesTuner::next(int current, int processors, const LaneSample &s)
{
    processors = std::max(processors, 1);
    const int floor = std::min(processors, kMostLanes);
    current = std::clamp(current, 1, kMostLanes);
    if (s.files < kFewestFiles || s.elapsed < kShortestSample || s.laneSeconds <= 0)
        return current;
    const double cpuShare = s.cpuSeconds / s.laneSeconds;          // per lane-second
    const double processorsUsed = s.cpuSeconds / s.elapsed / processors;  // of the machine
    if (cpuShare < kWaitingShare && processorsUsed < kProcessorsFull) {
        // Waiting: while files wait for a lane, grow toward as many lanes as would keep the
        // processors busy at this share (a slow share is found out in a step or two), by at most
        // four times at once since one sample may mislead. Lanes that wait with nothing to count
        // cost nothing, so a starved search keeps what it has.
        if (!s.backlog)
            return current;
        const double wanted = processors * kTargetUse / std::max(cpuShare, 0.01);
        const int grown = int(std::clamp(std::ceil(wanted), double(current + 1), double(current) * 4));
        return std::min(kMostLanes, grown);
    }
    if ((cpuShare > kBusyShare || processorsUsed >= kProcessorsFull) && current > floor)
        return std::max(floor, current * 2 / 3);
    return current;
}

namespace {

// Nanoseconds on a processor and waiting for one, from a schedstat file; false when unreadable.
bool readSchedstat(const char *path, double &seconds)
{
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    unsigned long long running = 0, waiting = 0;
    const bool ok = std::fscanf(f, "%llu %llu", &running, &waiting) == 2;
    std::fclose(f);
    if (ok)
        seconds = double(running + waiting) / 1e9;
    return ok;
}

}  // namespace

double CountingLanesTuner::threadBusySeconds()
{
    // Time spent waiting for a processor counts as processor work: on a machine already busy
    // with other work, more lanes would only wait longer for one.
    double seconds = 0;
    if (readSchedstat("/proc/thread-self/schedstat", seconds))
        return seconds;
    struct timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double CountingLanesTuner::helperCpuSince()
{
    // The children of every thread of this process (a helper is a child of the thread that
    // started it).
    std::vector<int> pids;
    if (DIR *tasks = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(tasks)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string file = std::string("/proc/self/task/") + e->d_name + "/children";
            if (FILE *f = std::fopen(file.c_str(), "r")) {
                int pid = 0;
                while (std::fscanf(f, "%d", &pid) == 1)
                    pids.push_back(pid);
                std::fclose(f);
            }
        }
        ::closedir(tasks);
    }
    double added = 0;
    std::map<int, double> now;
    for (int pid : pids) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/schedstat", pid);
        double busy = 0;
        if (!readSchedstat(path, busy))
            continue;
        const auto last = m_lastByPid.find(pid);
        added += std::max(0.0, busy - (last == m_lastByPid.end() ? 0.0 : last->second));
        now[pid] = busy;
    }
    m_lastByPid.swap(now);
    return added;
}

}  // namespace search::detail
