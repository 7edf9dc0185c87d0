#include "monitor/counter_paths.h"

#include <array>
#include <cstring>

namespace veska {

namespace {

constexpr int32_t kNameBufferChars = 260;

}  // namespace

void LookUpCounterName(MonitorState& state, CounterLibrary& counters,
                       int32_t index, std::string& field) {
  state.NameBufferSize = kNameBufferChars;
  // One more byte than we hand out, so the text always ends inside the buffer
  // whatever the look-up writes.
  std::array<char, kNameBufferChars + 1> buffer;
  std::memset(buffer.data(), ' ', kNameBufferChars);
  buffer[kNameBufferChars] = '\0';
  if (counters.HasNameLookup()) {
    uint32_t chars = static_cast<uint32_t>(state.NameBufferSize);
    counters.LookupPerfNameByIndex(static_cast<uint32_t>(index), buffer.data(),
                                   &chars);
    state.NameBufferSize = static_cast<int32_t>(chars);
    buffer[kNameBufferChars] = '\0';
  }
  field.assign(buffer.data(), std::strlen(buffer.data()));
}

std::string BuildCoreCounterPath(MonitorState& state, CounterLibrary& counters,
                                 int32_t core) {
  LookUpCounterName(state, counters, kProcessorObjectIndex,
                    state.ProcessorObjectName);
  LookUpCounterName(state, counters, kProcessorTimeIndex,
                    state.ProcessorTimeName);
  return "\\" + state.ProcessorObjectName + "(" + std::to_string(core) + ")\\" +
         state.ProcessorTimeName;
}

std::string BuildDiskCounterPath(MonitorState& state,
                                 CounterLibrary& counters) {
  LookUpCounterName(state, counters, kLogicalDiskObjectIndex,
                    state.DiskObjectName);
  LookUpCounterName(state, counters, kDiskTimeIndex, state.DiskTimeName);
  return "\\" + state.DiskObjectName + "(_Total)\\" + state.DiskTimeName;
}

}  // namespace veska
