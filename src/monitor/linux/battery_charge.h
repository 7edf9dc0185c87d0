// The charge left in the system's batteries and whether mains power is on,
// from the power supplies under the /sys root: "Battery" ones give
// "capacity" and "status", "Mains" (and USB) ones "online". Batteries of
// attached devices (a wireless mouse's) are not the system's.
#ifndef VESKA_MONITOR_LINUX_BATTERY_CHARGE_H_
#define VESKA_MONITOR_LINUX_BATTERY_CHARGE_H_

#include <cstdio>
#include <string>

#include "monitor/linux/sysfs_text.h"
#include "monitor/resource_sensors.h"

namespace veska {

class BatteryCharge {
 public:
  BatteryCharge(const std::string& sys_root, std::FILE* messages);

  void Prepare();
  // No battery: unavailable, with a full charge on mains.
  ResourceReading Read();

 private:
  std::string folder_;
  SilenceNotice notice_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_BATTERY_CHARGE_H_
