// Performance counters from the system's counter service, pdh.dll, with the
// processor count and memory status from the kernel.
//
// pdh.dll is loaded by name when the library is made and its calls found in
// it by name, so a missing or broken service shows as failing calls (and the
// repair flow), never as a program that cannot start.
#ifndef VESKA_MONITOR_WINDOWS_PDH_COUNTER_LIBRARY_H_
#define VESKA_MONITOR_WINDOWS_PDH_COUNTER_LIBRARY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/counter_library.h"

namespace veska {

// On a machine with several processor groups the processor count covers
// them all, and a per-processor path the core builds is added as the
// "Processor Information" instance of that processor; with one group every
// path goes to the service as built.
class PdhCounterLibrary : public CounterLibrary {
 public:
  PdhCounterLibrary();
  // With the active processors of each group given, for tests.
  explicit PdhCounterLibrary(std::vector<uint32_t> processor_groups);
  ~PdhCounterLibrary() override;
  PdhCounterLibrary(const PdhCounterLibrary&) = delete;
  PdhCounterLibrary& operator=(const PdhCounterLibrary&) = delete;

  // Whether pdh.dll was loaded.
  bool IsLoaded() const { return module_ != nullptr; }

  int32_t OpenQuery(std::uintptr_t user_data, CounterQuery* query) override;
  int32_t AddCounter(CounterQuery query, const std::string& path,
                     std::uintptr_t user_data, CounterHandle* counter) override;
  int32_t CollectQueryData(CounterQuery query) override;
  int32_t GetFormattedCounterValue(CounterHandle counter, uint32_t format,
                                   FormattedCounterValue* value) override;
  int32_t CloseQuery(CounterQuery query) override;
  bool HasNameLookup() const override;
  int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                uint32_t* buffer_chars) override;
  uint32_t ProcessorCount() override;
  bool GetMemoryStatus(MemoryStatus* status) override;

 private:
  void* Find(const char* name) const;
  // The path to add for `path`: across groups, a per-processor path
  // becomes its "Processor Information" instance, in English.
  std::string CounterPathFor(const std::string& path, bool* english);
  std::string NameOf(uint32_t index, const char* fallback);

  std::vector<uint32_t> processor_groups_;

  void* module_ = nullptr;  // HMODULE of pdh.dll
  void* open_query_ = nullptr;
  void* add_counter_ = nullptr;
  void* collect_ = nullptr;
  void* formatted_value_ = nullptr;
  void* close_query_ = nullptr;
  void* add_english_counter_ = nullptr;
};

}  // namespace veska

#endif  // VESKA_MONITOR_WINDOWS_PDH_COUNTER_LIBRARY_H_
