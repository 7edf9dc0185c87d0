// The platform's performance-counter service, shaped after what load sampling
// asks of it: queries of rate counters added by path, formatted reads, the
// counter-name look-up by index, processor count and memory status.
#ifndef VESKA_MONITOR_COUNTER_LIBRARY_H_
#define VESKA_MONITOR_COUNTER_LIBRARY_H_

#include <cstdint>
#include <string>

namespace veska {

// Opaque handles; 0 names nothing.
using CounterQuery = std::uintptr_t;
using CounterHandle = std::uintptr_t;

// Statuses keep the platform's values so that both bindings answer alike.
inline constexpr int32_t kCounterOk = 0;
inline constexpr int32_t kCounterNoData = static_cast<int32_t>(0x800007D5u);
inline constexpr int32_t kCounterInvalidData =
    static_cast<int32_t>(0xC0000BC6u);
inline constexpr int32_t kCounterNotFound = static_cast<int32_t>(0xC0000BB8u);
inline constexpr int32_t kCounterInvalidHandle =
    static_cast<int32_t>(0xC0000BBCu);
inline constexpr int32_t kCounterInvalidArgument =
    static_cast<int32_t>(0xC0000BBDu);
inline constexpr int32_t kCounterMoreData = static_cast<int32_t>(0x800007D2u);

// Format flags of a formatted read.
inline constexpr uint32_t kFormatDouble = 0x00000200;
inline constexpr uint32_t kFormatNoCap100 = 0x00008000;

// The record a formatted read fills; `value` is left as it was when the read
// fails.
struct FormattedCounterValue {
  int32_t status = 0;
  double value = 0.0;
};

struct MemoryStatus {
  uint64_t total_physical = 0;      // bytes
  uint64_t available_physical = 0;  // bytes
};

class CounterLibrary {
 public:
  virtual ~CounterLibrary() = default;

  virtual int32_t OpenQuery(std::uintptr_t user_data, CounterQuery* query) = 0;
  // On failure `*counter` is set to 0.
  virtual int32_t AddCounter(CounterQuery query, const std::string& path,
                             std::uintptr_t user_data,
                             CounterHandle* counter) = 0;
  virtual int32_t CollectQueryData(CounterQuery query) = 0;
  // Rate counters give kCounterInvalidData until their query has been
  // collected twice.
  virtual int32_t GetFormattedCounterValue(CounterHandle counter,
                                           uint32_t format,
                                           FormattedCounterValue* value) = 0;
  virtual int32_t CloseQuery(CounterQuery query) = 0;

  // False when the platform offers no name look-up function at all; then the
  // caller's buffer is left untouched.
  virtual bool HasNameLookup() const = 0;
  // Writes the localized name of counter index `index` into `buffer`
  // (capacity `*buffer_chars` bytes, zero-terminated) like the platform's
  // look-up by index; an unknown index leaves the buffer as it was.
  virtual int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                        uint32_t* buffer_chars) = 0;

  virtual uint32_t ProcessorCount() = 0;
  // False when the memory status cannot be read.
  virtual bool GetMemoryStatus(MemoryStatus* status) = 0;
};

// The look-up by index as the platform answers on an English-language
// system, for bindings whose platform has no localized counter names: the
// names of the four counters the program adds, and kCounterNotFound with the
// buffer untouched for any other index.
int32_t LookupEnglishCounterName(uint32_t index, char* buffer,
                                 uint32_t* buffer_chars);

}  // namespace veska

#endif  // VESKA_MONITOR_COUNTER_LIBRARY_H_
