#include "fake_counter_library.h"

#include <algorithm>

namespace veska::testing {

int32_t FakeCounterLibrary::OpenQuery(std::uintptr_t, CounterQuery* query) {
  if (open_query_fails) {
    *query = 0;
    return kCounterInvalidArgument;
  }
  *query = next_query_++;
  return kCounterOk;
}

int32_t FakeCounterLibrary::AddCounter(CounterQuery query,
                                       const std::string& path, std::uintptr_t,
                                       CounterHandle* counter) {
  added_paths.push_back(path);
  bool known = path == kDiskPath;
  for (uint32_t n = 0; n < processors && !known; ++n) {
    known = path == CorePath(static_cast<int>(n));
  }
  if (query == 0 || !known || rejected_paths.count(path) != 0) {
    *counter = 0;
    return kCounterNotFound;
  }
  counters_.push_back({query, path});
  *counter = counters_.size();
  return kCounterOk;
}

int32_t FakeCounterLibrary::CollectQueryData(CounterQuery query) {
  if (query == 0) return kCounterInvalidHandle;
  ++collections[query];
  return kCounterOk;
}

int32_t FakeCounterLibrary::GetFormattedCounterValue(
    CounterHandle counter, uint32_t format, FormattedCounterValue* value) {
  ++reads;
  if (counter == 0 || counter > counters_.size()) {
    return kCounterInvalidHandle;
  }
  const Counter& c = counters_[counter - 1];
  if (collections[c.query] < 2) {
    value->status = kCounterInvalidData;
    return kCounterInvalidData;
  }
  double v = loads.count(c.path) ? loads[c.path] : 0.0;
  if ((format & kFormatNoCap100) == 0) v = std::min(v, 100.0);
  value->status = kCounterOk;
  value->value = v;
  return kCounterOk;
}

int32_t FakeCounterLibrary::CloseQuery(CounterQuery query) {
  closed.insert(query);
  return kCounterOk;
}

int32_t FakeCounterLibrary::LookupPerfNameByIndex(uint32_t index, char* buffer,
                                                  uint32_t* buffer_chars) {
  lookups.push_back(index);
  return LookupEnglishCounterName(index, buffer, buffer_chars);
}

bool FakeCounterLibrary::GetMemoryStatus(MemoryStatus* status) {
  if (!memory_ok) return false;
  *status = memory;
  return true;
}

}  // namespace veska::testing
