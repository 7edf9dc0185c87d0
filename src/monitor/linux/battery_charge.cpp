#include "monitor/linux/battery_charge.h"

#include <algorithm>
#include <optional>

namespace veska {
namespace {

struct Supplies {
  double charge_sum = 0.0;
  int batteries = 0;
  bool discharging = false;
  bool mains_seen = false;
  bool mains_online = false;
};

void AddBattery(const std::string& folder, Supplies& supplies) {
  if (ReadLineFile(folder + "/scope").value_or("") == "Device") return;
  const std::optional<double> capacity = ReadNumberFile(folder + "/capacity");
  if (!capacity) return;
  const std::string status = ReadLineFile(folder + "/status").value_or("");
  // A battery the charger calls full is full, whatever its gauge says.
  supplies.charge_sum +=
      status == "Full" ? 100.0 : std::clamp(*capacity, 0.0, 100.0);
  ++supplies.batteries;
  supplies.discharging = supplies.discharging || status == "Discharging";
}

void AddMains(const std::string& folder, Supplies& supplies) {
  const std::optional<double> online = ReadNumberFile(folder + "/online");
  if (!online) return;
  supplies.mains_seen = true;
  supplies.mains_online = supplies.mains_online || *online != 0.0;
}

}  // namespace

BatteryCharge::BatteryCharge(const std::string& sys_root, std::FILE* messages)
    : folder_(sys_root + "/class/power_supply"), notice_(messages) {}

void BatteryCharge::Prepare() {
  notice_.Reset();
  Read();
}

ResourceReading BatteryCharge::Read() {
  Supplies supplies;
  for (const std::string& name : ListEntries(folder_)) {
    const std::string folder = folder_ + "/" + name;
    const std::string type = ReadLineFile(folder + "/type").value_or("");
    if (type == "Battery") {
      AddBattery(folder, supplies);
    } else if (type == "Mains" || type.starts_with("USB")) {
      AddMains(folder, supplies);
    }
  }
  if (!notice_.Note(
          supplies.batteries > 0,
          "no battery in " + folder_ + "; the battery element stays silent")) {
    return {false, 100.0, true};
  }
  // Without a mains supply to ask, a battery that is not discharging is
  // taken to be on mains.
  const bool on_mains =
      supplies.mains_seen ? supplies.mains_online : !supplies.discharging;
  return {true, supplies.charge_sum / supplies.batteries, on_mains};
}

}  // namespace veska
