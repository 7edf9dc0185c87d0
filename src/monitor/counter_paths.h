// Counter paths built from the platform's localized counter names.
#ifndef VESKA_MONITOR_COUNTER_PATHS_H_
#define VESKA_MONITOR_COUNTER_PATHS_H_

#include <cstdint>
#include <string>

#include "monitor/counter_library.h"
#include "monitor/monitor_state.h"

namespace veska {

inline constexpr int32_t kProcessorObjectIndex = 238;
inline constexpr int32_t kProcessorTimeIndex = 6;
inline constexpr int32_t kLogicalDiskObjectIndex = 236;
inline constexpr int32_t kDiskTimeIndex = 200;

void LookUpCounterName(MonitorState& state, CounterLibrary& counters,
                       int32_t index, std::string& field);
std::string BuildCoreCounterPath(MonitorState& state, CounterLibrary& counters,
                                 int32_t core);
std::string BuildDiskCounterPath(MonitorState& state, CounterLibrary& counters);

}  // namespace veska

#endif  // VESKA_MONITOR_COUNTER_PATHS_H_
