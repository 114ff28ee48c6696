#pragma once
// How many counting lanes an automatic search runs: more while the lanes mostly wait on the
// disk or the network (a file share answers each open and read after a round trip), the
// processor count while counting keeps the processors busy, and back down when the waiting stops.
//
// Fed every twentieth of a second or so with what the lanes did meanwhile: the time they spent on
// files, the processor time that took or waited for (their own threads and the PDF helper
// processes), and whether files were waiting for a lane. Waiting for a processor counts against
// growing (it is what other work on the machine shows as) but not as filling the processors,
// which only the lanes' own processor time does.

#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

namespace search::detail {

struct LaneSample
{
    double laneSeconds = 0;  // summed over lanes: wall time spent on files
    // Processor time of the lanes' threads and their helpers meanwhile, time spent waiting for a
    // processor included (on a machine busy with other work that is not waiting on I/O).
    double cpuSeconds = 0;
    double queuedSeconds = 0;  // the part of cpuSeconds spent waiting for a processor
    double elapsed = 0;      // wall time the sample covers
    int64_t files = 0;       // files finished meanwhile
    bool backlog = false;    // files within reach were waiting for a lane
    // Lanes were added as it began: their start (threads, counters, helper processes) is in it,
    // which makes it look busier on the processors than counting is.
    bool settling = false;
};

class CountingLanesTuner
{
public:
    static constexpr int kMostLanes = 32;

    // Where automatic lanes start on files of a network file system, before any sample: a share
    // answers each open and read after a round trip, and a search there is often over before a
    // slow start from the processor count has grown.
    static int remoteStart(int processors);
    // Whether path is on a file system that reaches its files over a network (NFS, SMB, and
    // FUSE, which is how desktops mount shares and remote folders).
    static bool onNetwork(const char *path);

    // Whether a sample covers enough files and time to judge by.
    static bool judges(const LaneSample &sample);
    // The lane count to run next, given the current one and what it did.
    static int next(int current, int processors, const LaneSample &sample);

    // A lane's thread, as the lane itself finds out when it starts.
    struct Thread
    {
        int tid = 0;
        clockid_t clock = CLOCK_THREAD_CPUTIME_ID;  // its processor-time clock
        static Thread current();
    };
    struct Busy
    {
        double seconds = 0;  // on a processor or waiting for one
        double queued = 0;   // of which waiting for one
    };
    // What the given lane threads and this process's child processes (the PDF helpers) took of
    // the processors since the last call. Read only now and then: a read per file would cost
    // more than a quick local count can spare.
    Busy busySince(const std::vector<Thread> &lanes);

private:
    std::map<int, Busy> m_last;  // by thread or process id
};

}  // namespace search::detail
