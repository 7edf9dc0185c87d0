// A stand-in for the system's pdh.dll, for tests under Wine only (never
// shipped: on Windows pdh.dll is a known DLL and a copy beside the program is
// not even loaded). Wine's own counter service has no per-processor or disk
// counters and cannot look up their names; this one answers the paths the
// program builds, in English, from real load:
//   \Processor(N)\% Processor Time, \Processor(_Total)\% Processor Time
//     busy share of each processor's time (NtQuerySystemInformation);
//   \LogicalDisk(_Total)\% Disk Time, \PhysicalDisk(_Total)\% Disk Time
//     the busiest disk's share of time with I/O in flight, from the host's
//     disk statistics as Wine shows them on drive Z:.
// A test scripts the load instead through the environment, read at each
// collection:
//   VESKA_PDH_CPU="P0 P1 ..."  per-processor percent (the last one repeated)
//   VESKA_PDH_DISK="P"          disk percent
//   VESKA_PDH_NO_NAMES="238 6"  indices whose name look-up fails
//   VESKA_PDH_GROUPS="64 8"     a machine with these processor groups:
//     \Processor(N) covers group 0, \Processor Information(G,I) them all
// The optional resources' counters are in resource_counters.cpp.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "resource_counters.h"

namespace {

constexpr LONG kOk = 0;
constexpr LONG kNoData = static_cast<LONG>(0x800007D5);
constexpr LONG kMoreData = static_cast<LONG>(0x800007D2);
constexpr LONG kNoInstance = static_cast<LONG>(0x800007D1);
constexpr LONG kNoObject = static_cast<LONG>(0xC0000BB8);
constexpr LONG kNoCounter = static_cast<LONG>(0xC0000BB9);
constexpr LONG kInvalidHandle = static_cast<LONG>(0xC0000BBC);
constexpr LONG kInvalidArgument = static_cast<LONG>(0xC0000BBD);
constexpr LONG kInvalidData = static_cast<LONG>(0xC0000BC6);
constexpr LONG kCStatusInvalidData = static_cast<LONG>(0xC0000BBA);
constexpr DWORD kFormatDouble = 0x00000200;
constexpr DWORD kFormatNoCap100 = 0x00008000;

struct FormattedValue {  // PDH_FMT_COUNTERVALUE with a double
  DWORD status;
  double value;
};

enum class Kind { kCpu, kCpuTotal, kDisk };

struct Sample {
  double busy = 0;   // busy time, or the scripted percent
  double total = 0;  // all time; 0 for a scripted percent
  bool valid = false;
};

struct Counter {
  Kind kind = Kind::kCpu;
  unsigned cpu = 0;
  bool grouped = false;  // named by "group,index"
  Sample before, now;
};

struct Query {
  std::vector<std::unique_ptr<Counter>> counters;
};

std::mutex mutex;
std::set<Query*> queries;
std::set<Counter*> counters;

struct Name {
  DWORD index;
  const wchar_t* text;
};
constexpr Name kNames[] = {{238, L"Processor"},
                           {6, L"% Processor Time"},
                           {236, L"LogicalDisk"},
                           {234, L"PhysicalDisk"},
                           {200, L"% Disk Time"}};

std::wstring Environment(const wchar_t* name) {
  wchar_t value[512];
  const DWORD got = GetEnvironmentVariableW(name, value, 512);
  return got > 0 && got < 512 ? std::wstring(value, got) : std::wstring();
}

std::vector<double> Numbers(const std::wstring& text) {
  std::vector<double> numbers;
  const wchar_t* at = text.c_str();
  for (;;) {
    wchar_t* end = nullptr;
    const double number = std::wcstod(at, &end);
    if (end == at) break;
    numbers.push_back(number);
    at = end;
  }
  return numbers;
}

unsigned ProcessorCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

// Busy and total 100 ns units of each processor; kernel time includes idle.
std::vector<Sample> CpuTimes() {
  std::vector<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> info(ProcessorCount());
  ULONG bytes = 0;
  std::vector<Sample> samples;
  if (NtQuerySystemInformation(
          SystemProcessorPerformanceInformation, info.data(),
          static_cast<ULONG>(info.size() * sizeof(info[0])), &bytes) != 0) {
    return samples;
  }
  for (size_t i = 0; i < bytes / sizeof(info[0]); ++i) {
    const double total = static_cast<double>(info[i].KernelTime.QuadPart +
                                             info[i].UserTime.QuadPart);
    samples.push_back(
        {total - static_cast<double>(info[i].IdleTime.QuadPart), total, true});
  }
  return samples;
}

// Milliseconds with I/O in flight on the busiest device, and the clock.
Sample DiskTime() {
  Sample sample;
  std::FILE* file = std::fopen("Z:\\proc\\diskstats", "r");
  if (file == nullptr) return sample;
  char line[512];
  double busiest = 0;
  while (std::fgets(line, sizeof(line), file) != nullptr) {
    unsigned major = 0, minor = 0;
    char name[64];
    unsigned long long f[10] = {};
    if (std::sscanf(
            line,
            "%u %u %63s %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu",
            &major, &minor, name, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
            &f[6], &f[7], &f[8], &f[9]) == 13 &&
        static_cast<double>(f[9]) > busiest) {
      busiest = static_cast<double>(f[9]);
    }
  }
  std::fclose(file);
  sample.busy = busiest;
  sample.total = static_cast<double>(GetTickCount64());
  sample.valid = true;
  return sample;
}

Sample Scripted(const std::vector<double>& values, size_t index) {
  Sample sample;
  sample.busy = values[index < values.size() ? index : values.size() - 1];
  sample.valid = true;
  return sample;
}

// --- Several processor groups: the flat number of "G,I", or -1.
long GroupedProcessor(const std::wstring& text) {
  const std::vector<double> groups = Numbers(Environment(L"VESKA_PDH_GROUPS"));
  const std::wstring prefix = L"\\Processor Information(";
  const std::wstring suffix = L")\\% Processor Time";
  if (groups.empty() || text.rfind(prefix, 0) != 0 ||
      text.size() <= prefix.size() + suffix.size() ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return -1;
  }
  unsigned group = 0, index = 0;
  wchar_t end = 0;
  if (std::swscanf(text.c_str() + prefix.size(), L"%u,%u%lc", &group, &index,
                   &end) != 3 ||
      end != L')' || group >= groups.size() || index >= groups[group]) {
    return -1;
  }
  long flat = index;
  for (unsigned g = 0; g < group; ++g) flat += static_cast<long>(groups[g]);
  return flat;
}

unsigned FirstGroupSize() {
  const std::vector<double> groups = Numbers(Environment(L"VESKA_PDH_GROUPS"));
  return groups.empty() ? ProcessorCount() : static_cast<unsigned>(groups[0]);
}

bool Parse(const wchar_t* path, Counter* counter) {
  std::wstring text(path);
  if (const long flat = GroupedProcessor(text); flat >= 0) {
    counter->kind = Kind::kCpu;
    counter->cpu = static_cast<unsigned>(flat);
    counter->grouped = true;
    return true;
  }
  if (text == L"\\LogicalDisk(_Total)\\% Disk Time" ||
      text == L"\\PhysicalDisk(_Total)\\% Disk Time") {
    counter->kind = Kind::kDisk;
    return true;
  }
  const std::wstring prefix = L"\\Processor(";
  const std::wstring suffix = L")\\% Processor Time";
  if (text.size() <= prefix.size() + suffix.size() ||
      text.compare(0, prefix.size(), prefix) != 0 ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::wstring instance =
      text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  if (instance == L"_Total") {
    counter->kind = Kind::kCpuTotal;
    return true;
  }
  if (instance.size() > 4 ||
      instance.find_first_not_of(L"0123456789") != std::wstring::npos ||
      (instance.size() > 1 && instance[0] == L'0')) {
    return false;
  }
  counter->kind = Kind::kCpu;
  counter->cpu =
      static_cast<unsigned>(std::wcstoul(instance.c_str(), nullptr, 10));
  return true;
}

LONG Status(const wchar_t* path) {
  const std::wstring text(path);
  if (text.rfind(L"\\Processor(", 0) != 0 &&
      text.rfind(L"\\LogicalDisk(", 0) != 0 &&
      text.rfind(L"\\PhysicalDisk(", 0) != 0) {
    return kNoObject;
  }
  if (text.find(L")\\% Processor Time") == std::wstring::npos &&
      text.find(L")\\% Disk Time") == std::wstring::npos) {
    return kNoCounter;
  }
  return kNoInstance;
}

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI
    PdhOpenQueryW(LPCWSTR, DWORD_PTR, HANDLE* query) {
  if (query == nullptr) return kInvalidArgument;
  std::lock_guard lock(mutex);
  Query* made = new Query;
  queries.insert(made);
  *query = made;
  return kOk;
}

__declspec(dllexport) LONG WINAPI
    PdhAddCounterW(HANDLE query, LPCWSTR path, DWORD_PTR, HANDLE* counter) {
  if (counter == nullptr || path == nullptr) return kInvalidArgument;
  std::lock_guard lock(mutex);
  const auto found = queries.find(static_cast<Query*>(query));
  if (found == queries.end()) return kInvalidHandle;
  if (standin::IsResourcePath(path)) {
    return standin::AddResourceCounter(*found, path, counter);
  }
  auto made = std::make_unique<Counter>();
  if (!Parse(path, made.get())) return Status(path);
  if (made->kind == Kind::kCpu && !made->grouped &&
      made->cpu >= FirstGroupSize()) {
    return kNoInstance;
  }
  *counter = made.get();
  counters.insert(made.get());
  (*found)->counters.push_back(std::move(made));
  return kOk;
}

__declspec(dllexport) LONG WINAPI
    PdhAddEnglishCounterW(HANDLE query, LPCWSTR path, DWORD_PTR data,
                          HANDLE* counter) {
  return PdhAddCounterW(query, path, data, counter);
}

__declspec(dllexport) LONG WINAPI PdhCollectQueryData(HANDLE query) {
  std::lock_guard lock(mutex);
  const auto found = queries.find(static_cast<Query*>(query));
  if (found == queries.end()) return kInvalidHandle;
  const bool resources = standin::CollectResourceCounters(*found);
  if ((*found)->counters.empty()) return resources ? kOk : kNoData;
  const std::vector<double> cpu_script = Numbers(Environment(L"VESKA_PDH_CPU"));
  const std::vector<double> disk_script =
      Numbers(Environment(L"VESKA_PDH_DISK"));
  const std::vector<Sample> cpus =
      cpu_script.empty() ? CpuTimes() : std::vector<Sample>();
  const Sample disk =
      disk_script.empty() ? DiskTime() : Scripted(disk_script, 0);
  for (const auto& counter : (*found)->counters) {
    Sample now;
    if (counter->kind == Kind::kDisk) {
      now = disk;
    } else if (counter->kind == Kind::kCpu) {
      if (!cpu_script.empty()) {
        now = Scripted(cpu_script, counter->cpu);
      } else if (counter->cpu < cpus.size()) {
        now = cpus[counter->cpu];
      }
    } else if (!cpu_script.empty()) {
      double sum = 0;
      const unsigned count = ProcessorCount();
      for (unsigned n = 0; n < count; ++n) sum += Scripted(cpu_script, n).busy;
      now.busy = count ? sum / count : 0;
      now.valid = true;
    } else {
      for (const Sample& cpu : cpus) {
        now.busy += cpu.busy;
        now.total += cpu.total;
      }
      now.valid = !cpus.empty();
    }
    counter->before = counter->now;
    counter->now = now;
  }
  return kOk;
}

__declspec(dllexport) LONG WINAPI
    PdhGetFormattedCounterValue(HANDLE counter, DWORD format, LPDWORD type,
                                FormattedValue* value) {
  std::lock_guard lock(mutex);
  const auto found = counters.find(static_cast<Counter*>(counter));
  if (found == counters.end()) return kInvalidHandle;
  if (value == nullptr || (format & kFormatDouble) == 0)
    return kInvalidArgument;
  if (type != nullptr) *type = 0;
  const Counter& c = **found;
  if (!c.before.valid || !c.now.valid) {
    value->status = static_cast<DWORD>(kCStatusInvalidData);
    return kInvalidData;
  }
  double percent = c.now.busy;  // scripted
  if (c.now.total > 0) {
    const double span = c.now.total - c.before.total;
    percent = span > 0 ? (c.now.busy - c.before.busy) / span * 100.0 : 0.0;
  }
  if (percent < 0) percent = 0;
  if ((format & kFormatNoCap100) == 0 && percent > 100) percent = 100;
  value->status = 0;
  value->value = percent;
  return kOk;
}

__declspec(dllexport) LONG WINAPI PdhCloseQuery(HANDLE query) {
  std::lock_guard lock(mutex);
  const auto found = queries.find(static_cast<Query*>(query));
  if (found == queries.end()) return kInvalidHandle;
  for (const auto& counter : (*found)->counters) counters.erase(counter.get());
  standin::CloseResourceCounters(*found);
  delete *found;
  queries.erase(found);
  return kOk;
}

__declspec(dllexport) LONG WINAPI
    PdhLookupPerfNameByIndexW(LPCWSTR, DWORD index, LPWSTR buffer,
                              LPDWORD chars) {
  if (chars == nullptr) return kInvalidArgument;
  for (double missing : Numbers(Environment(L"VESKA_PDH_NO_NAMES"))) {
    if (static_cast<DWORD>(missing) == index) return kInvalidArgument;
  }
  for (const Name& name : kNames) {
    if (name.index != index) continue;
    const DWORD needed = static_cast<DWORD>(std::wcslen(name.text)) + 1;
    if (buffer == nullptr || *chars < needed) {
      *chars = needed;
      return kMoreData;
    }
    std::wmemcpy(buffer, name.text, needed);
    *chars = needed;
    return kOk;
  }
  return kInvalidArgument;
}

}  // extern "C"
