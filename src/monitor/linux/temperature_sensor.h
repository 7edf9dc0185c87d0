// The hottest CPU package or thermal zone, in degrees Celsius: the hardware
// monitoring chips through libsensors (the CPU's own chips when there are
// any, else every chip), else the kernel's thermal zones under the /sys
// root. libsensors always reads the system's own /sys, so with another root
// (a test's tree) only the thermal zones are read.
#ifndef VESKA_MONITOR_LINUX_TEMPERATURE_SENSOR_H_
#define VESKA_MONITOR_LINUX_TEMPERATURE_SENSOR_H_

#include <cstdio>
#include <string>
#include <vector>

#include "monitor/linux/sysfs_text.h"
#include "monitor/resource_sensors.h"

namespace veska {

class TemperatureSensor {
 public:
  TemperatureSensor(const std::string& sys_root, std::FILE* messages);
  ~TemperatureSensor();
  TemperatureSensor(const TemperatureSensor&) = delete;
  TemperatureSensor& operator=(const TemperatureSensor&) = delete;

  void Prepare();
  void Release();
  ResourceReading Read();

 private:
  struct ChipInput;

  bool PrepareChips();
  bool ReadChips(double* hottest) const;
  bool ReadZones(double* hottest) const;

  bool system_sys_;
  std::string zone_folder_;
  SilenceNotice notice_;
  bool chips_open_ = false;
  std::vector<ChipInput> chip_inputs_;
  std::vector<std::string> zone_files_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_TEMPERATURE_SENSOR_H_
