#include "monitor/linux/linux_resource_sensors.h"

#include <chrono>
#include <cstdlib>

namespace veska {
namespace {

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LinuxResourceSensors::LinuxResourceSensors(Roots roots, Clock clock,
                                           std::FILE* messages)
    : clock_(clock ? std::move(clock) : Clock(SteadyNanoseconds)),
      network_(roots.proc, messages),
      gpu_(roots.sys, roots.gpu_library, messages),
      temperature_(roots.sys, messages),
      battery_(roots.sys, messages) {}

LinuxResourceSensors::Roots LinuxResourceSensors::RootsFromEnvironment() {
  Roots roots;
  if (const char* sys = std::getenv("VESKA_SYS_ROOT"); sys != nullptr && *sys) {
    roots.sys = sys;
  }
  return roots;
}

void LinuxResourceSensors::Prepare(Resource resource) {
  switch (resource) {
    case Resource::kNetwork:
      network_.Prepare(clock_());
      return;
    case Resource::kGpu:
      gpu_.Prepare();
      return;
    case Resource::kTemperature:
      temperature_.Prepare();
      return;
    case Resource::kBattery:
      battery_.Prepare();
      return;
  }
}

void LinuxResourceSensors::Release(Resource resource) {
  switch (resource) {
    case Resource::kGpu:
      gpu_.Release();
      return;
    case Resource::kTemperature:
      temperature_.Release();
      return;
    case Resource::kNetwork:
    case Resource::kBattery:
      return;  // nothing held between reads
  }
}

ResourceReading LinuxResourceSensors::Read(Resource resource) {
  switch (resource) {
    case Resource::kNetwork:
      return network_.Read(clock_());
    case Resource::kGpu:
      return gpu_.Read();
    case Resource::kTemperature:
      return temperature_.Read();
    case Resource::kBattery:
      return battery_.Read();
  }
  return {};
}

}  // namespace veska
