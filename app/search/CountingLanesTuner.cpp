#include "CountingLanesTuner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <pthread.h>
#include <sys/vfs.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace search::detail {

namespace {

// Too little to judge by: a few files, or a moment.
constexpr int64_t kFewestFiles = 4;
constexpr double kShortestSample = 0.04;
// The share of the processors that growing lanes aim to keep busy.
constexpr double kTargetUse = 0.8;
// ... and for more than this it is bound by the processor.
constexpr double kBusyShare = 0.75;
// The machine's processors this busy: more lanes would only queue for them.
constexpr double kProcessorsFull = 0.85;

}  // namespace

int CountingLanesTuner::remoteStart(int processors)
{
    return std::clamp(4 * std::max(processors, 1), 8, kMostLanes);
}

bool CountingLanesTuner::onNetwork(const char *path)
{
    struct statfs fs {};
    if (::statfs(path, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type) & 0xffffffffUL) {
    case 0x6969:      // NFS
    case 0x517b:      // SMB
    case 0xff534d42:  // CIFS
    case 0xfe534d42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x00c36400:  // Ceph
    case 0x5346414f:  // AFS
        return true;
    default:
        return false;
    }
}

bool CountingLanesTuner::judges(const LaneSample &s)
{
    return s.files >= kFewestFiles && s.elapsed >= kShortestSample && s.laneSeconds > 0;
}

int CountingLanesTuner::next(int current, int processors, const LaneSample &s)
{
    processors = std::max(processors, 1);
    const int floor = std::min(processors, kMostLanes);
    current = std::clamp(current, 1, kMostLanes);
    if (!judges(s))
        return current;
    // A lane's time, per lane-second: on a processor, waiting for one, and waiting on I/O.
    const double cpuShare = std::min(1.0, s.cpuSeconds / s.laneSeconds);
    const double queueShare = std::min(cpuShare, s.queuedSeconds / s.laneSeconds);
    const double runShare = cpuShare - queueShare;
    const double ioShare = 1 - cpuShare;
    // Of the machine, by this search's own work: waiting for a processor takes none of it.
    const double processorsUsed = std::max(0.0, s.cpuSeconds - s.queuedSeconds) / s.elapsed / processors;
    if (ioShare > runShare && ioShare > queueShare && processorsUsed < kProcessorsFull) {
        // Waiting on I/O most: while files wait for a lane, grow toward as many lanes as would
        // keep the processors busy at this share (a slow share is found out in a step or two),
        // by at most four times at once since one sample may mislead. Lanes that wait with
        // nothing to count cost nothing, so a starved search keeps what it has. Other work on
        // the machine makes the lanes wait for a processor longer than on I/O, which ends the
        // growth; lanes that fill the processors themselves end it too.
        if (!s.backlog)
            return current;
        const double wanted = processors * kTargetUse / std::max(runShare, 0.01);
        const int grown = int(std::clamp(std::ceil(wanted), double(current + 1), double(current) * 4));
        return std::min(kMostLanes, grown);
    }
    if ((cpuShare > kBusyShare || processorsUsed >= kProcessorsFull) && current > floor && !s.settling)
        return std::max(floor, current * 2 / 3);
    return current;
}

namespace {

// Time on a processor and waiting for one, from a schedstat file; false when unreadable.
bool readSchedstat(const char *path, CountingLanesTuner::Busy &busy)
{
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    unsigned long long running = 0, waiting = 0;
    const bool ok = std::fscanf(f, "%llu %llu", &running, &waiting) == 2;
    std::fclose(f);
    if (ok) {
        busy.seconds = double(running + waiting) / 1e9;
        busy.queued = double(waiting) / 1e9;
    }
    return ok;
}

}  // namespace

CountingLanesTuner::Thread CountingLanesTuner::Thread::current()
{
    Thread t;
    t.tid = int(::gettid());
    ::pthread_getcpuclockid(::pthread_self(), &t.clock);
    return t;
}

CountingLanesTuner::Busy CountingLanesTuner::busySince(const std::vector<Thread> &lanes)
{
    // Time spent waiting for a processor counts as processor work: on a machine already busy
    // with other work, more lanes would only wait longer for one.
    std::map<int, Busy> now;
    for (const Thread &lane : lanes) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", lane.tid);
        Busy busy;
        if (!readSchedstat(path, busy)) {
            struct timespec t {};
            if (::clock_gettime(lane.clock, &t) != 0)
                continue;
            busy.seconds = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
        }
        now[lane.tid] = busy;
    }
    // The helpers are children of the thread that started them: look at every thread's.
    if (DIR *tasks = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(tasks)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string file = std::string("/proc/self/task/") + e->d_name + "/children";
            if (FILE *f = std::fopen(file.c_str(), "r")) {
                int pid = 0;
                while (std::fscanf(f, "%d", &pid) == 1) {
                    char path[64];
                    std::snprintf(path, sizeof path, "/proc/%d/schedstat", pid);
                    Busy busy;
                    if (readSchedstat(path, busy))
                        now[pid] = busy;
                }
                std::fclose(f);
            }
        }
        ::closedir(tasks);
    }
    // A thread or helper not seen before started since: all it did is new.
    Busy added;
    for (const auto &[id, busy] : now) {
        const auto last = m_last.find(id);
        const Busy before = last == m_last.end() ? Busy{} : last->second;
        added.seconds += std::max(0.0, busy.seconds - before.seconds);
        added.queued += std::max(0.0, busy.queued - before.queued);
    }
    m_last.swap(now);
    return added;
}

}  // namespace search::detail
