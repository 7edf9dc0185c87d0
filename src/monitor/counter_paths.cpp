#include "monitor/counter_paths.h"

#include <array>
#include <cstring>

#include "monitor/counter_library.h"

namespace veska {

namespace {

constexpr int32_t kNameBufferChars = 260;

}  // namespace

void LookUpCounterName(AppState& state, int32_t index, std::string& field) {
  state.NameBufferSize = kNameBufferChars;
  // One more byte than we hand out, so the text always ends inside the buffer
  // whatever the look-up writes.
  std::array<char, kNameBufferChars + 1> buffer;
  std::memset(buffer.data(), ' ', kNameBufferChars);
  buffer[kNameBufferChars] = '\0';
  CounterLibrary* counters = state.services.counters;
  if (counters != nullptr && counters->HasNameLookup()) {
    uint32_t chars = static_cast<uint32_t>(state.NameBufferSize);
    counters->LookupPerfNameByIndex(static_cast<uint32_t>(index), buffer.data(),
                                    &chars);
    state.NameBufferSize = static_cast<int32_t>(chars);
    buffer[kNameBufferChars] = '\0';
  }
  field.assign(buffer.data(), std::strlen(buffer.data()));
}

std::string BuildCoreCounterPath(AppState& state, int32_t core) {
  LookUpCounterName(state, kProcessorObjectIndex, state.ProcessorObjectName);
  LookUpCounterName(state, kProcessorTimeIndex, state.ProcessorTimeName);
  return "\\" + state.ProcessorObjectName + "(" + std::to_string(core) + ")\\" +
         state.ProcessorTimeName;
}

std::string BuildDiskCounterPath(AppState& state) {
  LookUpCounterName(state, kLogicalDiskObjectIndex, state.DiskObjectName);
  LookUpCounterName(state, kDiskTimeIndex, state.DiskTimeName);
  return "\\" + state.DiskObjectName + "(_Total)\\" + state.DiskTimeName;
}

}  // namespace veska
