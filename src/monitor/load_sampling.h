// The two counter queries (one counter per core, one disk counter), RAM load
// from the memory status, and the CPU average.
#ifndef VESKA_MONITOR_LOAD_SAMPLING_H_
#define VESKA_MONITOR_LOAD_SAMPLING_H_

#include <cstdint>

#include "app/app_state.h"

namespace veska {

// Both return 1, or end the process through the repair flow.
int32_t SetUpDiskCounter(AppState& state);
int32_t SetUpCpuCounters(AppState& state);

void SampleRAMLoad(AppState& state);
void SampleCpuLoads(AppState& state);
void SampleDiskLoad(AppState& state);
void UpdateCpuAverage(AppState& state);

void CloseCpuQuery(AppState& state);
void CloseDiskQuery(AppState& state);

}  // namespace veska

#endif  // VESKA_MONITOR_LOAD_SAMPLING_H_
