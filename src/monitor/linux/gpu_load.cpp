#include "monitor/linux/gpu_load.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <optional>

namespace veska {
namespace {

// "card0", not "card0-DP-1" (a connector) nor "renderD128".
bool IsCard(const std::string& name) {
  return name.size() > 4 &&
         std::all_of(name.begin() + 4, name.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

// The few entry points of the management library used here, declared after
// its published interface: status 0 is success, a device is an opaque
// pointer, and utilisation is two unsigned percentages (GPU, memory).
class GpuLoad::ManagementLibrary {
 public:
  static std::unique_ptr<ManagementLibrary> Open(const std::string& name) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    auto library =
        std::unique_ptr<ManagementLibrary>(new ManagementLibrary(handle));
    if (!library->Bind() || library->init_() != 0) return nullptr;
    library->initialised_ = true;
    unsigned count = 0;
    if (library->count_(&count) != 0 || count == 0) return nullptr;
    library->count_value_ = count;
    return library;
  }
  ~ManagementLibrary() {
    if (initialised_) shutdown_();
    ::dlclose(handle_);
  }

  // The busiest device's percentage; none when no device answers.
  std::optional<double> BusiestPercent() {
    std::optional<double> busiest;
    for (unsigned index = 0; index < count_value_; ++index) {
      void* device = nullptr;
      Utilization use{};
      if (device_(index, &device) != 0 || rates_(device, &use) != 0) {
        continue;
      }
      busiest = std::max(busiest.value_or(0.0), static_cast<double>(use.gpu));
    }
    return busiest;
  }

 private:
  struct Utilization {
    unsigned gpu;
    unsigned memory;
  };
  using Status = int;

  explicit ManagementLibrary(void* handle) : handle_(handle) {}

  template <typename Function>
  bool Find(const char* name, Function*& to) {
    to = reinterpret_cast<Function*>(::dlsym(handle_, name));
    return to != nullptr;
  }
  bool Bind() {
    return Find("nvmlInit_v2", init_) && Find("nvmlShutdown", shutdown_) &&
           Find("nvmlDeviceGetCount_v2", count_) &&
           Find("nvmlDeviceGetHandleByIndex_v2", device_) &&
           Find("nvmlDeviceGetUtilizationRates", rates_);
  }

  void* handle_;
  bool initialised_ = false;
  unsigned count_value_ = 0;
  Status (*init_)() = nullptr;
  Status (*shutdown_)() = nullptr;
  Status (*count_)(unsigned*) = nullptr;
  Status (*device_)(unsigned, void**) = nullptr;
  Status (*rates_)(void*, Utilization*) = nullptr;
};

GpuLoad::GpuLoad(const std::string& sys_root, std::string library,
                 std::FILE* messages)
    : drm_folder_(sys_root + "/class/drm"),
      library_name_(std::move(library)),
      notice_(messages) {}

GpuLoad::~GpuLoad() = default;

void GpuLoad::Prepare() {
  Release();
  notice_.Reset();
  for (const std::string& card : ListEntries(drm_folder_, "card")) {
    const std::string file =
        drm_folder_ + "/" + card + "/device/gpu_busy_percent";
    if (IsCard(card) && ReadNumberFile(file)) busy_files_.push_back(file);
  }
  if (busy_files_.empty()) library_ = ManagementLibrary::Open(library_name_);
  Read();
}

void GpuLoad::Release() {
  busy_files_.clear();
  library_.reset();
}

ResourceReading GpuLoad::Read() {
  std::optional<double> busiest;
  for (const std::string& file : busy_files_) {
    if (const std::optional<double> percent = ReadNumberFile(file)) {
      busiest = std::max(busiest.value_or(0.0), *percent);
    }
  }
  if (!busiest && library_) busiest = library_->BusiestPercent();
  if (!notice_.Note(busiest.has_value(),
                    "no GPU reports its load (no gpu_busy_percent in " +
                        drm_folder_ + ", no " + library_name_ +
                        "); the GPU element stays silent")) {
    return {};
  }
  return {true, *busiest, true};
}

}  // namespace veska
