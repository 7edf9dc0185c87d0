// Performance counters fed by the test: loads by counter path, memory status
// and processor count, with the rate-counter rule that a value needs two
// collections of its query.
#ifndef VESKA_TESTS_SUPPORT_FAKE_COUNTER_LIBRARY_H_
#define VESKA_TESTS_SUPPORT_FAKE_COUNTER_LIBRARY_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "monitor/counter_library.h"

namespace veska::testing {

class FakeCounterLibrary : public CounterLibrary {
 public:
  // --- Fed by the test ---
  uint32_t processors = 4;
  MemoryStatus memory{16ull << 30, 4ull << 30};
  bool memory_ok = true;
  bool has_name_lookup = true;
  bool open_query_fails = false;
  std::set<std::string> rejected_paths;
  std::map<std::string, double> loads;  // by counter path, percent

  void SetCoreLoad(int core, double load) { loads[CorePath(core)] = load; }
  void SetDiskLoad(double load) { loads[kDiskPath] = load; }
  static std::string CorePath(int core) {
    return "\\Processor(" + std::to_string(core) + ")\\% Processor Time";
  }
  static constexpr const char* kDiskPath = "\\LogicalDisk(_Total)\\% Disk Time";

  // --- What the program did ---
  std::vector<std::string> added_paths;
  std::map<CounterQuery, int> collections;
  std::set<CounterQuery> closed;
  std::vector<uint32_t> lookups;  // indices asked for, in order
  int reads = 0;

  // --- CounterLibrary ---
  int32_t OpenQuery(std::uintptr_t user_data, CounterQuery* query) override;
  int32_t AddCounter(CounterQuery query, const std::string& path,
                     std::uintptr_t user_data, CounterHandle* counter) override;
  int32_t CollectQueryData(CounterQuery query) override;
  int32_t GetFormattedCounterValue(CounterHandle counter, uint32_t format,
                                   FormattedCounterValue* value) override;
  int32_t CloseQuery(CounterQuery query) override;
  bool HasNameLookup() const override { return has_name_lookup; }
  int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                uint32_t* buffer_chars) override;
  uint32_t ProcessorCount() override { return processors; }
  bool GetMemoryStatus(MemoryStatus* status) override;

 private:
  struct Counter {
    CounterQuery query;
    std::string path;
  };
  CounterQuery next_query_ = 0x100;
  std::vector<Counter> counters_;  // handle n is counters_[n - 1]
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_FAKE_COUNTER_LIBRARY_H_
