#include "monitor/load_sampling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "monitor/counter_paths.h"

namespace veska {

namespace {

// More processors than a 16-bit core index can number are not watched.
constexpr uint32_t kMaxProcessors =
    static_cast<uint32_t>(std::numeric_limits<int16_t>::max()) + 1;

// Cores the per-core loops may walk: never past either table, whatever
// LastCoreIndex says.
size_t CoreCount(const MonitorState& state) {
  if (state.LastCoreIndex < 0) return 0;
  return static_cast<size_t>(state.LastCoreIndex) + 1;
}

// A failed read stores 0 rather than whatever the record held before.
double ReadValue(CounterLibrary& counters, CounterHandle counter,
                 FormattedCounterValue& record) {
  const int32_t status =
      counters.GetFormattedCounterValue(counter, kFormatDouble, &record);
  if (status != kCounterOk) {
    record.value = 0.0;
  }
  return record.value;
}

}  // namespace

int32_t SetUpDiskCounter(MonitorState& state, CounterLibrary& counters) {
  state.DiskQuery = 0;
  state.PdhStatus = counters.OpenQuery(1, &state.DiskQuery);
  if (state.PdhStatus != kCounterOk) return 0;
  state.DiskCounterPath = BuildDiskCounterPath(state, counters);
  state.DiskCounter = 0;
  state.PdhStatus = counters.AddCounter(state.DiskQuery, state.DiskCounterPath,
                                        0, &state.DiskCounter);
  if (state.DiskCounter == 0) return 0;
  return 1;
}

int32_t SetUpCpuCounters(MonitorState& state, CounterLibrary& counters) {
  const uint32_t processors =
      std::min(counters.ProcessorCount(), kMaxProcessors);
  // No processor at all would leave nothing to average (and a division by
  // zero); it is a broken counter service like any other.
  if (processors == 0) return 0;
  state.LastCoreIndex = static_cast<int16_t>(processors - 1);
  state.CpuCounters.assign(processors, 0);
  state.CoreLoads.assign(processors, 0.0);
  state.CpuQuery = 0;
  state.PdhStatus = counters.OpenQuery(1, &state.CpuQuery);
  if (state.PdhStatus != kCounterOk) return 0;
  state.LastCpuCounter = 0;
  for (uint32_t n = 0; n < processors; ++n) {
    state.CoreCounterPath =
        BuildCoreCounterPath(state, counters, static_cast<int32_t>(n));
    state.PdhStatus = counters.AddCounter(state.CpuQuery, state.CoreCounterPath,
                                          0, &state.LastCpuCounter);
    if (state.PdhStatus == kCounterOk) {
      state.CpuCounters[n] = state.LastCpuCounter;
    }
  }
  // Only the last core decides: an earlier core that failed just stays
  // silent at 0.
  if (state.LastCpuCounter == 0) return 0;
  return 1;
}

void SampleRAMLoad(MonitorState& state, CounterLibrary& counters) {
  MemoryStatus memory;
  if (!counters.GetMemoryStatus(&memory)) {
    memory = MemoryStatus{};
  }
  state.TotalRAM = memory.total_physical;
  state.AvailableRAM = memory.available_physical;
  // A status that claims more free memory than there is reads as empty, not
  // as a wrapped-around count.
  state.UsedRAM = state.TotalRAM >= state.AvailableRAM
                      ? state.TotalRAM - state.AvailableRAM
                      : 0;
  state.RAMLoad =
      state.TotalRAM == 0
          ? 0.0f
          : static_cast<float>(static_cast<double>(state.UsedRAM) /
                               static_cast<double>(state.TotalRAM) * 100.0);
}

void SampleCpuLoads(MonitorState& state, CounterLibrary& counters) {
  counters.CollectQueryData(state.CpuQuery);
  const size_t cores = std::min(
      {CoreCount(state), state.CpuCounters.size(), state.CoreLoads.size()});
  for (size_t n = 0; n < cores; ++n) {
    state.CoreLoads[n] =
        ReadValue(counters, state.CpuCounters[n], state.CpuValue);
  }
}

void SampleDiskLoad(MonitorState& state, CounterLibrary& counters) {
  counters.CollectQueryData(state.DiskQuery);
  state.DiskLoad = ReadValue(counters, state.DiskCounter, state.DiskValue);
}

void UpdateCpuAverage(MonitorState& state) {
  const size_t cores = CoreCount(state);
  const size_t readable = std::min(cores, state.CoreLoads.size());
  int32_t accumulator = 0;
  for (size_t n = 0; n < readable; ++n) {
    // Rounded after every addition, halves to even (the default rounding
    // mode); a load no counter can give is skipped rather than overflowing.
    const double sum = std::nearbyint(accumulator + state.CoreLoads[n]);
    if (sum >= std::numeric_limits<int32_t>::min() &&
        sum <= std::numeric_limits<int32_t>::max()) {
      accumulator = static_cast<int32_t>(sum);
    }
  }
  state.CpuAverage = cores == 0 ? 0 : accumulator / static_cast<int32_t>(cores);
}

void CloseCpuQuery(MonitorState& state, CounterLibrary& counters) {
  counters.CloseQuery(state.CpuQuery);
}

void CloseDiskQuery(MonitorState& state, CounterLibrary& counters) {
  counters.CloseQuery(state.DiskQuery);
}

}  // namespace veska
