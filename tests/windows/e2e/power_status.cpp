// Prints what the kernel's power status answers, for the end-to-end
// scenarios to check the battery element against:
//   line=ACLineStatus flag=BatteryFlag percent=BatteryLifePercent
#include <windows.h>

#include <cstdio>

int main() {
  SYSTEM_POWER_STATUS power{};
  if (!GetSystemPowerStatus(&power)) {
    std::printf("no power status: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("line=%u flag=%u percent=%u\n", power.ACLineStatus,
              power.BatteryFlag, power.BatteryLifePercent);
  return 0;
}
