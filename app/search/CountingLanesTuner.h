#pragma once
// How many counting lanes an automatic search runs: more while the lanes mostly wait on the
// disk or the network (a file share answers each open and read after a round trip), the
// processor count while counting keeps the processors busy, and back down when the waiting stops.
//
// Fed every tenth of a second or so with what the lanes did meanwhile: the time they spent on
// files, the processor time that took or waited for (their own threads and the PDF helper
// processes), and whether files were waiting for a lane.

#include <cstdint>
#include <map>

namespace search::detail {

struct LaneSample
{
    double laneSeconds = 0;  // summed over lanes: wall time spent on files
    // Processor time of the lanes' threads and their helpers meanwhile, time spent waiting for a
    // processor included (on a machine busy with other work that is not waiting on I/O).
    double cpuSeconds = 0;
    double elapsed = 0;      // wall time the sample covers
    int64_t files = 0;       // files finished meanwhile
    bool backlog = false;    // files within reach were waiting for a lane
};

class CountingLanesTuner
{
public:
    static constexpr int kMostLanes = 32;

    // The lane count to run next, given the current one and what it did.
    static int next(int current, int processors, const LaneSample &sample);

    // The processor time (and time waiting for a processor) of this process's child processes,
    // the PDF helpers, since the last call, in seconds.
    double helperCpuSince();
    // The same for the calling thread, so far.
    static double threadBusySeconds();

private:
    std::map<int, double> m_lastByPid;
};

}  // namespace search::detail
