// The optional resources on Linux, one source each: the network from the
// /proc root, the GPU, temperature and battery from the /sys root. A test
// points the roots at trees of its own; the program takes the system's, or
// the /sys root named by VESKA_SYS_ROOT (for scripted figures).
#ifndef VESKA_MONITOR_LINUX_LINUX_RESOURCE_SENSORS_H_
#define VESKA_MONITOR_LINUX_LINUX_RESOURCE_SENSORS_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "monitor/linux/battery_charge.h"
#include "monitor/linux/gpu_load.h"
#include "monitor/linux/network_rate.h"
#include "monitor/linux/temperature_sensor.h"
#include "monitor/resource_sensors.h"

namespace veska {

// Where the sources are read from.
struct LinuxResourceRoots {
  std::string proc = "/proc";
  std::string sys = "/sys";
  // The GPU vendor's management library, opened only when no DRM device
  // reports.
  std::string gpu_library = "libnvidia-ml.so.1";
};

class LinuxResourceSensors : public ResourceSensors {
 public:
  // Nanoseconds on a steady clock; only differences are used.
  using Clock = std::function<int64_t()>;
  using Roots = LinuxResourceRoots;

  // Without a clock the steady clock is used. Each source that gives
  // nothing says so once on `messages`.
  explicit LinuxResourceSensors(Roots roots = {}, Clock clock = {},
                                std::FILE* messages = stderr);

  // The system's roots, with VESKA_SYS_ROOT in place of /sys when set.
  static Roots RootsFromEnvironment();

  void Prepare(Resource resource) override;
  void Release(Resource resource) override;
  ResourceReading Read(Resource resource) override;

 private:
  Clock clock_;
  NetworkRate network_;
  GpuLoad gpu_;
  TemperatureSensor temperature_;
  BatteryCharge battery_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_LINUX_RESOURCE_SENSORS_H_
