// The two counter queries (one counter per core, one disk counter), RAM load
// from the memory status, and the CPU average.
#ifndef VESKA_MONITOR_LOAD_SAMPLING_H_
#define VESKA_MONITOR_LOAD_SAMPLING_H_

#include <cstdint>

#include "monitor/counter_library.h"
#include "monitor/monitor_state.h"

namespace veska {

// Both return 1, or 0 at the first step the counter service refuses; the
// caller then offers the counter repair, and set-up goes no further.
int32_t SetUpDiskCounter(MonitorState& state, CounterLibrary& counters);
int32_t SetUpCpuCounters(MonitorState& state, CounterLibrary& counters);

void SampleRAMLoad(MonitorState& state, CounterLibrary& counters);
void SampleCpuLoads(MonitorState& state, CounterLibrary& counters);
void SampleDiskLoad(MonitorState& state, CounterLibrary& counters);
void UpdateCpuAverage(MonitorState& state);

void CloseCpuQuery(MonitorState& state, CounterLibrary& counters);
void CloseDiskQuery(MonitorState& state, CounterLibrary& counters);

}  // namespace veska

#endif  // VESKA_MONITOR_LOAD_SAMPLING_H_
