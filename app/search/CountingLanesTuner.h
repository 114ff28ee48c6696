#pragma once
// How many counting lanes an automatic search runs: more while the lanes mostly wait on the
// disk or the network (a file share answers each open and read after a round trip), the
// processor count while counting keeps the processors busy, and back down when the waiting stops.
//
// Fed every tenth of a second or so with what the lanes did meanwhile: the time they spent on
// files, the processor time that took (their own threads and the PDF helper processes), and
// whether files were waiting for a lane.

#include <cstdint>
#include <map>

namespace search::detail {

struct LaneSample
{
    double laneSeconds = 0;  // summed over lanes: wall time spent on files
    double cpuSeconds = 0;   // processor time of the lanes' threads and their helpers meanwhile
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

    // The processor time used so far by this process's child processes (the PDF helpers), in
    // seconds; helpers that ended are no longer in it, so callers take differences per process.
    // Returns the sum of the positive differences since the last call.
    double helperCpuSince();

private:
    std::map<int, double> m_lastByPid;
};

}  // namespace search::detail
