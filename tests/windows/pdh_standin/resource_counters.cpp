// The stand-in's counters of the optional resources, all scripted by the
// test through the environment, read at each collection. Each variable is a
// list of "instance=value" separated by ';'; while it is unset the
// counter's object does not exist (as on a machine without it), and "-"
// gives the object without instances:
//   VESKA_PDH_NET    \Network Interface(*)\Bytes Total/sec, bytes/s
//   VESKA_PDH_GPU    \GPU Engine(*)\Utilization Percentage, percent
//   VESKA_PDH_ZONES  \Thermal Zone Information(*)\Temperature, kelvins,
//                    and its High Precision Temperature in tenths of one,
//                    which VESKA_PDH_ZONES_COARSE=1 takes away (older
//                    systems).
// As on Windows, the network and GPU counters are rates: an instance has a
// value from its second collection on; a zone's temperature is read at
// once. Only the wildcard instance "(*)" is answered, through
// PdhGetFormattedCounterArrayW.
#include "resource_counters.h"

#include <pdhmsg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace standin {
namespace {

constexpr LONG kOk = ERROR_SUCCESS;
constexpr LONG kMoreData = static_cast<LONG>(PDH_MORE_DATA);
constexpr LONG kNoObject = static_cast<LONG>(PDH_CSTATUS_NO_OBJECT);
constexpr LONG kNoCounter = static_cast<LONG>(PDH_CSTATUS_NO_COUNTER);
constexpr LONG kInvalidHandle = static_cast<LONG>(PDH_INVALID_HANDLE);
constexpr LONG kInvalidArgument = static_cast<LONG>(PDH_INVALID_ARGUMENT);
constexpr LONG kInvalidData = static_cast<LONG>(PDH_INVALID_DATA);
constexpr DWORD kCStatusInvalidData = PDH_CSTATUS_INVALID_DATA;
// From pdh.h, whose declarations of the exports differ from these.
constexpr DWORD kFormatDouble = 0x00000200;    // PDH_FMT_DOUBLE
constexpr DWORD kFormatNoCap100 = 0x00008000;  // PDH_FMT_NOCAP100

struct ItemW {  // PDH_FMT_COUNTERVALUE_ITEM_W with a double
  wchar_t* name;
  DWORD status;
  double value;
};

struct Object {
  const wchar_t* name;     // as in the path, up to its instance
  const wchar_t* counter;  // the counter's name after the instance
  const wchar_t* script;   // the variable that scripts it
  double scale;            // of the scripted value
  bool rate;
  bool percent;
  bool whole;  // a count, not a fraction
};
constexpr Object kObjects[] = {
    {L"Network Interface", L"Bytes Total/sec", L"VESKA_PDH_NET", 1, true, false,
     false},
    {L"GPU Engine", L"Utilization Percentage", L"VESKA_PDH_GPU", 1, true, true,
     false},
    {L"Thermal Zone Information", L"Temperature", L"VESKA_PDH_ZONES", 1, false,
     false, true},
    {L"Thermal Zone Information", L"High Precision Temperature",
     L"VESKA_PDH_ZONES", 10, false, false, true},
};
constexpr size_t kPreciseZone = 3;

using Instances = std::map<std::wstring, double>;

struct Counter {
  const void* query;
  const Object* object;
  int collections = 0;
  Instances before, now;
};

std::mutex mutex;
std::map<const Counter*, std::unique_ptr<Counter>> counters;

bool Scripted(const wchar_t* name, std::wstring* text) {
  wchar_t value[2048];
  const DWORD got = GetEnvironmentVariableW(name, value, 2048);
  if (got == 0 || got >= 2048) return false;
  text->assign(value, got);
  return true;
}

Instances Parse(const std::wstring& text, const Object& object) {
  Instances instances;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(L';', at);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring entry = text.substr(at, end - at);
    const size_t equals = entry.rfind(L'=');
    if (equals != std::wstring::npos && equals > 0) {
      const double value =
          std::wcstod(entry.c_str() + equals + 1, nullptr) * object.scale;
      instances[entry.substr(0, equals)] =
          object.whole ? std::round(value) : value;
    }
    at = end + 1;
  }
  return instances;
}

// The object and counter named by "\Object(*)\Counter", or a status.
LONG Find(const wchar_t* path, const Object** found) {
  const std::wstring text(path);
  for (size_t i = 0; i < std::size(kObjects); ++i) {
    const Object& object = kObjects[i];
    const std::wstring head = std::wstring(L"\\") + object.name + L"(";
    if (text.compare(0, head.size(), head) != 0) continue;
    std::wstring script;
    if (!Scripted(object.script, &script)) return kNoObject;
    if (text != head + L"*)\\" + object.counter) continue;
    if (i == kPreciseZone && Scripted(L"VESKA_PDH_ZONES_COARSE", &script)) {
      return kNoCounter;
    }
    *found = &object;
    return kOk;
  }
  return kNoCounter;
}

}  // namespace

bool IsResourcePath(const wchar_t* path) {
  for (const Object& object : kObjects) {
    const std::wstring head = std::wstring(L"\\") + object.name + L"(";
    if (std::wcsncmp(path, head.c_str(), head.size()) == 0) return true;
  }
  return false;
}

LONG AddResourceCounter(const void* query, const wchar_t* path,
                        HANDLE* counter) {
  const Object* object = nullptr;
  const LONG status = Find(path, &object);
  if (status != kOk) return status;
  auto made = std::make_unique<Counter>();
  made->query = query;
  made->object = object;
  std::lock_guard lock(mutex);
  *counter = made.get();
  counters[made.get()] = std::move(made);
  return kOk;
}

bool CollectResourceCounters(const void* query) {
  std::lock_guard lock(mutex);
  bool any = false;
  for (auto& [key, counter] : counters) {
    if (counter->query != query) continue;
    any = true;
    std::wstring script;
    counter->before = std::move(counter->now);
    counter->now = Instances();
    if (Scripted(counter->object->script, &script)) {
      counter->now = Parse(script, *counter->object);
    }
    ++counter->collections;
  }
  return any;
}

void CloseResourceCounters(const void* query) {
  std::lock_guard lock(mutex);
  std::erase_if(counters, [query](const auto& entry) {
    return entry.second->query == query;
  });
}

}  // namespace standin

extern "C" {

__declspec(dllexport) LONG WINAPI
    PdhGetFormattedCounterArrayW(HANDLE handle, DWORD format, LPDWORD bytes,
                                 LPDWORD count, standin::ItemW* items) {
  using namespace standin;
  if (bytes == nullptr || count == nullptr) return kInvalidArgument;
  std::lock_guard lock(mutex);
  const auto found = counters.find(static_cast<const Counter*>(handle));
  if (found == counters.end()) return kInvalidHandle;
  if ((format & kFormatDouble) == 0) return kInvalidArgument;
  const Counter& counter = *found->second;
  if (counter.collections == 0) return kInvalidData;
  DWORD needed = static_cast<DWORD>(counter.now.size() * sizeof(ItemW));
  for (const auto& instance : counter.now) {
    needed += static_cast<DWORD>((instance.first.size() + 1) * sizeof(wchar_t));
  }
  *count = static_cast<DWORD>(counter.now.size());
  if (items == nullptr || *bytes < needed) {
    *bytes = needed;
    return counter.now.empty() ? kOk : kMoreData;
  }
  auto* text = reinterpret_cast<wchar_t*>(items + counter.now.size());
  ItemW* item = items;
  for (const auto& [name, value] : counter.now) {
    item->name = text;
    std::wmemcpy(text, name.c_str(), name.size() + 1);
    text += name.size() + 1;
    const auto before = counter.before.find(name);
    const bool valid = !counter.object->rate || before != counter.before.end();
    item->status = valid ? 0 : kCStatusInvalidData;
    item->value = valid ? value : 0.0;
    if (counter.object->percent && (format & kFormatNoCap100) == 0) {
      item->value = std::min(item->value, 100.0);
    }
    ++item;
  }
  *bytes = needed;
  return kOk;
}

}  // extern "C"
