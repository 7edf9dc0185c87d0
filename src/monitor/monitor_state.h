// Load monitoring owns the two counter queries and their counters, the
// counter paths and the localized names they are built from, the last core
// loads, the RAM and disk figures, the CPU average and the optional
// resources' figures. It needs a CounterLibrary for all of it but those, a
// ResourceSensors for those, and the ShellServices only to offer the counter
// repair; it knows nothing of the layers above.
#ifndef VESKA_MONITOR_MONITOR_STATE_H_
#define VESKA_MONITOR_MONITOR_STATE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/counter_library.h"
#include "monitor/resource_sensors.h"

namespace veska {

struct MonitorState {
  int16_t LastCoreIndex = 0;
  CounterQuery CpuQuery = 0;
  CounterQuery DiskQuery = 0;
  std::vector<CounterHandle> CpuCounters = std::vector<CounterHandle>(2);
  std::vector<double> CoreLoads = std::vector<double>(2);
  CounterHandle LastCpuCounter = 0;
  CounterHandle DiskCounter = 0;
  std::string CoreCounterPath;
  std::string DiskCounterPath;
  std::string DiskObjectName;
  std::string DiskTimeName;
  std::string ProcessorObjectName;
  std::string ProcessorTimeName;
  int32_t NameBufferSize = 0;
  FormattedCounterValue CpuValue;
  FormattedCounterValue DiskValue;
  int32_t PdhStatus = 0;
  uint64_t TotalRAM = 0;
  uint64_t AvailableRAM = 0;
  uint64_t UsedRAM = 0;
  float RAMLoad = 0.0f;
  double DiskLoad = 0.0;
  int32_t CpuAverage = 0;
  // The optional resources by Resource: the last figure read (bytes per
  // second, percent, degrees Celsius, percent of charge) and its load.
  std::array<double, kResourceCount> ResourceFigures{};
  std::array<double, kResourceCount> ResourceLoads{};
};

}  // namespace veska

#endif  // VESKA_MONITOR_MONITOR_STATE_H_
