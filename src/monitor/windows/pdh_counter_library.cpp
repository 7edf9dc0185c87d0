#include "monitor/windows/pdh_counter_library.h"

#include <cstring>
#include <utility>
#include <vector>

#include "monitor/counter_paths.h"
#include "monitor/windows/pdh_calls.h"
#include "monitor/windows/processor_groups.h"

namespace veska {

namespace {

using pdh::AddCounterCall, pdh::As, pdh::CloseQueryCall, pdh::CollectCall,
    pdh::FormattedValueCall, pdh::LookupCall, pdh::OpenQueryCall;

constexpr char kLookupName[] = "PdhLookupPerfNameByIndexW";

// What a call answers when pdh.dll or the call is missing: the service has
// no such counter, which the caller treats like any broken counter.
constexpr int32_t kMissing = kCounterNotFound;

// False for text that is not valid UTF-8.
bool ToWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int chars =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                          static_cast<int>(text.size()), nullptr, 0);
  if (chars <= 0) return false;
  wide->resize(static_cast<size_t>(chars));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), wide->data(),
                             chars) == chars;
}

bool ToUtf8(const wchar_t* wide, std::string* text) {
  text->clear();
  const int length = static_cast<int>(std::wcslen(wide));
  if (length == 0) return true;
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide,
                                        length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  text->resize(static_cast<size_t>(bytes));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length,
                             text->data(), bytes, nullptr, nullptr) == bytes;
}

}  // namespace

PdhCounterLibrary::PdhCounterLibrary()
    : PdhCounterLibrary(ActiveProcessorGroups()) {}

PdhCounterLibrary::PdhCounterLibrary(std::vector<uint32_t> processor_groups)
    : processor_groups_(std::move(processor_groups)) {
  HMODULE module = LoadLibraryW(L"pdh.dll");
  module_ = module;
  if (module == nullptr) return;
  open_query_ = Find("PdhOpenQueryW");
  add_counter_ = Find("PdhAddCounterW");
  collect_ = Find("PdhCollectQueryData");
  formatted_value_ = Find("PdhGetFormattedCounterValue");
  close_query_ = Find("PdhCloseQuery");
  add_english_counter_ = Find("PdhAddEnglishCounterW");
}

PdhCounterLibrary::~PdhCounterLibrary() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

void* PdhCounterLibrary::Find(const char* name) const {
  if (module_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module_), name));
}

int32_t PdhCounterLibrary::OpenQuery(std::uintptr_t user_data,
                                     CounterQuery* query) {
  if (query == nullptr) return kCounterInvalidArgument;
  *query = 0;
  if (open_query_ == nullptr) return kMissing;
  PDH_HQUERY handle = nullptr;
  const PDH_STATUS status =
      As<OpenQueryCall>(open_query_)(nullptr, user_data, &handle);
  if (status == ERROR_SUCCESS) *query = reinterpret_cast<CounterQuery>(handle);
  return static_cast<int32_t>(status);
}

int32_t PdhCounterLibrary::AddCounter(CounterQuery query,
                                      const std::string& path,
                                      std::uintptr_t user_data,
                                      CounterHandle* counter) {
  if (counter == nullptr) return kCounterInvalidArgument;
  *counter = 0;
  if (add_counter_ == nullptr) return kMissing;
  bool english = false;
  std::wstring wide_path;
  if (!ToWide(CounterPathFor(path, &english), &wide_path))
    return static_cast<int32_t>(PDH_CSTATUS_BAD_COUNTERNAME);
  // English names mean the same on every language of the system.
  void* add = english && add_english_counter_ != nullptr ? add_english_counter_
                                                         : add_counter_;
  PDH_HCOUNTER handle = nullptr;
  const PDH_STATUS status =
      As<AddCounterCall>(add)(reinterpret_cast<PDH_HQUERY>(query),
                              wide_path.c_str(), user_data, &handle);
  if (status == ERROR_SUCCESS) {
    *counter = reinterpret_cast<CounterHandle>(handle);
  }
  return static_cast<int32_t>(status);
}

int32_t PdhCounterLibrary::CollectQueryData(CounterQuery query) {
  if (collect_ == nullptr) return kMissing;
  return static_cast<int32_t>(
      As<CollectCall>(collect_)(reinterpret_cast<PDH_HQUERY>(query)));
}

int32_t PdhCounterLibrary::GetFormattedCounterValue(
    CounterHandle counter, uint32_t format, FormattedCounterValue* value) {
  if (value == nullptr) return kCounterInvalidArgument;
  if (formatted_value_ == nullptr) return kMissing;
  PDH_FMT_COUNTERVALUE record{};
  DWORD type = 0;
  const PDH_STATUS status = As<FormattedValueCall>(formatted_value_)(
      reinterpret_cast<PDH_HCOUNTER>(counter), format, &type, &record);
  if (status != ERROR_SUCCESS) {
    // The value stays as it was; the status says why, as on every platform.
    value->status = static_cast<int32_t>(status);
    return static_cast<int32_t>(status);
  }
  value->status = static_cast<int32_t>(record.CStatus);
  value->value = record.doubleValue;
  return kCounterOk;
}

int32_t PdhCounterLibrary::CloseQuery(CounterQuery query) {
  if (close_query_ == nullptr) return kMissing;
  return static_cast<int32_t>(
      As<CloseQueryCall>(close_query_)(reinterpret_cast<PDH_HQUERY>(query)));
}

bool PdhCounterLibrary::HasNameLookup() const {
  return Find(kLookupName) != nullptr;
}

int32_t PdhCounterLibrary::LookupPerfNameByIndex(uint32_t index, char* buffer,
                                                 uint32_t* buffer_chars) {
  if (buffer_chars == nullptr) return kCounterInvalidArgument;
  const auto lookup = As<LookupCall>(Find(kLookupName));
  if (lookup == nullptr) return kMissing;
  // UTF-8 can take more bytes than UTF-16 takes characters, so the wide
  // name gets room of its own and the caller's size is checked after.
  std::vector<wchar_t> wide(PDH_MAX_COUNTER_NAME + 1, L'\0');
  DWORD wide_chars = static_cast<DWORD>(wide.size());
  PDH_STATUS status = lookup(nullptr, index, wide.data(), &wide_chars);
  if (status == static_cast<PDH_STATUS>(PDH_MORE_DATA) &&
      wide_chars > wide.size()) {
    wide.assign(wide_chars + 1, L'\0');
    wide_chars = static_cast<DWORD>(wide.size());
    status = lookup(nullptr, index, wide.data(), &wide_chars);
  }
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
  wide.back() = L'\0';
  std::string name;
  if (!ToUtf8(wide.data(), &name)) {
    return static_cast<int32_t>(PDH_INVALID_DATA);
  }
  const uint32_t needed = static_cast<uint32_t>(name.size()) + 1;
  if (buffer == nullptr || *buffer_chars < needed) {
    *buffer_chars = needed;
    return kCounterMoreData;
  }
  std::memcpy(buffer, name.c_str(), needed);
  *buffer_chars = needed;
  return kCounterOk;
}

uint32_t PdhCounterLibrary::ProcessorCount() {
  if (processor_groups_.size() > 1) {
    uint32_t count = 0;
    for (uint32_t group : processor_groups_) count += group;
    return count;
  }
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

std::string PdhCounterLibrary::NameOf(uint32_t index, const char* fallback) {
  char name[PDH_MAX_COUNTER_NAME + 1] = {};
  uint32_t chars = sizeof(name);
  if (LookupPerfNameByIndex(index, name, &chars) != kCounterOk) {
    return fallback;
  }
  return name;
}

std::string PdhCounterLibrary::CounterPathFor(const std::string& path,
                                              bool* english) {
  *english = false;
  if (processor_groups_.size() < 2) return path;
  const int64_t n =
      PerProcessorIndex(path, NameOf(kProcessorObjectIndex, "Processor"),
                        NameOf(kProcessorTimeIndex, "% Processor Time"));
  if (n < 0) return path;
  const std::string instance =
      ProcessorInstance(processor_groups_, static_cast<uint32_t>(n));
  if (instance.empty()) return path;
  *english = true;
  return "\\Processor Information(" + instance + ")\\% Processor Time";
}

bool PdhCounterLibrary::GetMemoryStatus(MemoryStatus* status) {
  if (status == nullptr) return false;
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  if (!GlobalMemoryStatusEx(&memory)) return false;
  status->total_physical = memory.ullTotalPhys;
  status->available_physical = memory.ullAvailPhys;
  return true;
}

}  // namespace veska
