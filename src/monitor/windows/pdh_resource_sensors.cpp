#include "monitor/windows/pdh_resource_sensors.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "monitor/windows/pdh_calls.h"

namespace veska {

namespace {

using pdh::AddCounterCall, pdh::As, pdh::CloseQueryCall, pdh::CollectCall,
    pdh::CounterArrayCall, pdh::OpenQueryCall;

// English names, so that a system in another language finds them too.
constexpr wchar_t kNetworkPath[] = L"\\Network Interface(*)\\Bytes Total/sec";
constexpr wchar_t kGpuPath[] = L"\\GPU Engine(*)\\Utilization Percentage";
// Tenths of a kelvin where the system has it, else whole kelvins.
constexpr wchar_t kPreciseZonePath[] =
    L"\\Thermal Zone Information(*)\\High Precision Temperature";
constexpr wchar_t kZonePath[] = L"\\Thermal Zone Information(*)\\Temperature";
constexpr double kZeroCelsiusInKelvin = 273.15;

constexpr DWORD kFormat = PDH_FMT_DOUBLE | PDH_FMT_NOCAP100;
// A service that keeps growing its answer is not asked forever.
constexpr int kArrayAttempts = 4;

constexpr BYTE kNoSystemBattery = 128;  // SYSTEM_POWER_STATUS.BatteryFlag
constexpr BYTE kUnknown = 255;

// A value past the enumeration's reads nothing, rather than past the
// tables.
bool Known(Resource resource) {
  return static_cast<uint32_t>(resource) <
         static_cast<uint32_t>(kResourceCount);
}

// One instance of a wildcard counter at the last collection.
struct Item {
  std::wstring name;
  double value = 0.0;
  bool valid = false;
};

// The name an item points at, only if it ends inside the answer.
std::wstring NameWithin(const wchar_t* name, const unsigned char* begin,
                        const unsigned char* end) {
  const auto* at = reinterpret_cast<const unsigned char*>(name);
  if (name == nullptr || at < begin || at >= end) return std::wstring();
  const size_t room = static_cast<size_t>(end - at) / sizeof(wchar_t);
  const wchar_t* stop = std::find(name, name + room, L'\0');
  return stop == name + room ? std::wstring() : std::wstring(name, stop);
}

// Every instance of `counter`; the service's status, ERROR_SUCCESS when
// `items` holds the answer.
PDH_STATUS ReadItems(CounterArrayCall call, PDH_HCOUNTER counter,
                     std::vector<Item>* items) {
  items->clear();
  std::vector<unsigned char> buffer;
  for (int attempt = 0; attempt < kArrayAttempts; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size());
    DWORD count = 0;
    auto* first =
        buffer.empty()
            ? nullptr
            : reinterpret_cast<PDH_FMT_COUNTERVALUE_ITEM_W*>(buffer.data());
    const PDH_STATUS status = call(counter, kFormat, &bytes, &count, first);
    if (status == static_cast<PDH_STATUS>(PDH_MORE_DATA) &&
        bytes > buffer.size()) {
      buffer.assign(bytes, 0);
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    if (first == nullptr) return ERROR_SUCCESS;
    const size_t fits = buffer.size() / sizeof(*first);
    for (size_t i = 0; i < std::min<size_t>(count, fits); ++i) {
      const PDH_FMT_COUNTERVALUE& value = first[i].FmtValue;
      items->push_back({NameWithin(first[i].szName, buffer.data(),
                                   buffer.data() + buffer.size()),
                        value.doubleValue,
                        value.CStatus == PDH_CSTATUS_VALID_DATA ||
                            value.CStatus == PDH_CSTATUS_NEW_DATA});
    }
    return ERROR_SUCCESS;
  }
  return static_cast<PDH_STATUS>(PDH_MORE_DATA);
}

bool Contains(std::wstring text, const wchar_t* part) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return std::towlower(c); });
  return text.find(part) != std::wstring::npos;
}

// The instances a figure is made of: a loopback interface carries no
// traffic of the machine's, and a total would count every interface twice.
bool Relevant(Resource resource, const std::wstring& instance) {
  if (instance == L"_Total") return false;
  return resource != Resource::kNetwork || !Contains(instance, L"loopback");
}

// One engine of one adapter, whichever process uses it: an instance's name
// from its adapter on ("pid_4_luid_0x0_0x8C4_phys_0_eng_3_engtype_3D").
std::wstring EngineOf(const std::wstring& instance) {
  const size_t adapter = instance.find(L"luid_");
  return adapter == std::wstring::npos ? instance : instance.substr(adapter);
}

// The figure of the counted items. Each engine's use is summed over the
// processes and the busiest engine taken: summed by engine type instead, two
// adapters (or two engines of one type) would pass 100 %.
double Figure(Resource resource, const std::vector<Item>& counted,
              double scale) {
  double figure = 0.0;
  if (resource == Resource::kGpu) {
    std::map<std::wstring, double> engines;
    for (const Item& item : counted) {
      engines[EngineOf(item.name)] += std::max(item.value, 0.0);
    }
    for (const auto& engine : engines) {
      figure = std::max(figure, engine.second);
    }
    return std::min(figure, 100.0);
  }
  if (resource == Resource::kTemperature) {
    figure = -kZeroCelsiusInKelvin;
    for (const Item& item : counted) {
      figure = std::max(figure, item.value * scale - kZeroCelsiusInKelvin);
    }
    return figure;
  }
  for (const Item& item : counted) figure += std::max(item.value, 0.0);
  return figure;
}

}  // namespace

PdhResourceSensors::PdhResourceSensors(std::FILE* messages)
    : messages_(messages) {
  HMODULE module = LoadLibraryW(L"pdh.dll");
  module_ = module;
  if (module == nullptr) return;
  open_query_ = Find("PdhOpenQueryW");
  // Older systems lack the English call; their names are English anyway
  // more often than not.
  add_counter_ = Find("PdhAddEnglishCounterW");
  if (add_counter_ == nullptr) add_counter_ = Find("PdhAddCounterW");
  collect_ = Find("PdhCollectQueryData");
  counter_array_ = Find("PdhGetFormattedCounterArrayW");
  close_query_ = Find("PdhCloseQuery");
}

PdhResourceSensors::~PdhResourceSensors() {
  for (int32_t n = 0; n < kResourceCount; ++n) {
    Release(static_cast<Resource>(n));
  }
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

void* PdhResourceSensors::Find(const char* name) const {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(module_), name));
}

bool PdhResourceSensors::Open(Source& source, const wchar_t* path) {
  if (open_query_ == nullptr || add_counter_ == nullptr ||
      collect_ == nullptr || counter_array_ == nullptr ||
      close_query_ == nullptr) {
    return false;
  }
  PDH_HQUERY query = nullptr;
  if (As<OpenQueryCall>(open_query_)(nullptr, 0, &query) != ERROR_SUCCESS) {
    return false;
  }
  PDH_HCOUNTER counter = nullptr;
  if (As<AddCounterCall>(add_counter_)(query, path, 0, &counter) !=
      ERROR_SUCCESS) {
    As<CloseQueryCall>(close_query_)(query);
    return false;
  }
  source.query = query;
  source.counter = counter;
  return true;
}

void PdhResourceSensors::Prepare(Resource resource) {
  Release(resource);
  if (!Known(resource)) return;
  told_[static_cast<size_t>(resource)] = false;
  if (resource == Resource::kBattery) {
    ReadBattery();
    return;
  }
  Source& source = sources_[static_cast<size_t>(resource)];
  bool opened = false;
  if (resource == Resource::kNetwork) {
    opened = Open(source, kNetworkPath);
  } else if (resource == Resource::kGpu) {
    opened = Open(source, kGpuPath);
  } else if (Open(source, kPreciseZonePath)) {
    source.scale = 0.1;
    opened = true;
  } else {
    opened = Open(source, kZonePath);
  }
  Note(resource, opened);
}

void PdhResourceSensors::Release(Resource resource) {
  if (!Known(resource)) return;
  Source& source = sources_[static_cast<size_t>(resource)];
  if (source.query != nullptr) {
    As<CloseQueryCall>(close_query_)(static_cast<PDH_HQUERY>(source.query));
  }
  source = Source{};
}

ResourceReading PdhResourceSensors::Read(Resource resource) {
  if (!Known(resource)) return ResourceReading{};
  if (resource == Resource::kBattery) return ReadBattery();
  Source& source = sources_[static_cast<size_t>(resource)];
  if (source.query == nullptr) return ResourceReading{};
  return ReadCounter(resource, source);
}

ResourceReading PdhResourceSensors::ReadCounter(Resource resource,
                                                Source& source) {
  ResourceReading reading;
  const PDH_STATUS collected =
      As<CollectCall>(collect_)(static_cast<PDH_HQUERY>(source.query));
  std::vector<Item> items;
  const PDH_STATUS status =
      collected == ERROR_SUCCESS
          ? ReadItems(As<CounterArrayCall>(counter_array_),
                      static_cast<PDH_HCOUNTER>(source.counter), &items)
          : collected;
  // A rate has no value before its second collection: there is a source,
  // its figure is 0 for now.
  if (status == static_cast<PDH_STATUS>(PDH_INVALID_DATA) ||
      status == static_cast<PDH_STATUS>(PDH_CSTATUS_INVALID_DATA)) {
    reading.available = true;
    return reading;
  }
  std::vector<Item> counted;
  bool waiting = false;
  for (const Item& item : items) {
    if (!Relevant(resource, item.name)) continue;
    waiting = waiting || !item.valid;
    // A zone that answers 0 K has no sensor behind it.
    const bool no_sensor =
        resource == Resource::kTemperature && item.value <= 0;
    if (item.valid && !no_sensor) counted.push_back(item);
  }
  if (counted.empty()) {
    reading.available = Note(resource, status == ERROR_SUCCESS && waiting);
    return reading;
  }
  reading.available = Note(resource, true);
  reading.value = Figure(resource, counted, source.scale);
  return reading;
}

ResourceReading PdhResourceSensors::ReadBattery() {
  SYSTEM_POWER_STATUS power{};
  const bool answered = GetSystemPowerStatus(&power) &&
                        power.BatteryFlag != kUnknown &&
                        (power.BatteryFlag & kNoSystemBattery) == 0 &&
                        power.BatteryLifePercent <= 100;  // 255: unknown
  // No battery reads as a full one on the mains, as on every platform.
  if (!Note(Resource::kBattery, answered)) return {false, 100.0, true};
  return {true, static_cast<double>(power.BatteryLifePercent),
          power.ACLineStatus == 1};
}

bool PdhResourceSensors::Note(Resource resource, bool answered) {
  bool& told = told_[static_cast<size_t>(resource)];
  if (answered || messages_ == nullptr) {
    told = false;
    return answered;
  }
  if (told) return false;
  told = true;
  static constexpr const char* kWhat[kResourceCount] = {
      "no network interface reports its traffic; the network element",
      "no GPU reports its engines' use; the GPU element",
      "no thermal zone reports its temperature; the temperature element",
      "no battery reports its charge; the battery element"};
  std::fprintf(messages_, "VESKA: %s stays silent\n",
               kWhat[static_cast<size_t>(resource)]);
  std::fflush(messages_);
  return false;
}

}  // namespace veska
