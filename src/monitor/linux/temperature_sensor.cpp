#include "monitor/linux/temperature_sensor.h"

#include <sensors/sensors.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string_view>

namespace veska {
namespace {

// Chips that measure the processor itself.
constexpr std::array<std::string_view, 6> kCpuChips = {
    "coretemp", "k10temp", "k8temp", "zenpower", "cpu_thermal", "via_cputemp"};

bool IsCpuChip(const sensors_chip_name* chip) {
  return chip->prefix != nullptr &&
         std::find(kCpuChips.begin(), kCpuChips.end(), chip->prefix) !=
             kCpuChips.end();
}

// A reading no sensor gives (a disconnected probe reads -273 or 255) is left
// out rather than heard as cold or as a fire.
bool Plausible(double celsius) {
  return std::isfinite(celsius) && celsius > -60.0 && celsius < 200.0;
}

}  // namespace

struct TemperatureSensor::ChipInput {
  const sensors_chip_name* chip;
  int number;
};

TemperatureSensor::TemperatureSensor(const std::string& sys_root,
                                     std::FILE* messages)
    : system_sys_(sys_root == "/sys"),
      zone_folder_(sys_root + "/class/thermal"),
      notice_(messages) {}

TemperatureSensor::~TemperatureSensor() { Release(); }

bool TemperatureSensor::PrepareChips() {
  if (!system_sys_ || sensors_init(nullptr) != 0) return false;
  chips_open_ = true;
  std::vector<ChipInput> all;
  int chip_index = 0;
  while (const sensors_chip_name* chip =
             sensors_get_detected_chips(nullptr, &chip_index)) {
    int feature_index = 0;
    while (const sensors_feature* feature =
               sensors_get_features(chip, &feature_index)) {
      if (feature->type != SENSORS_FEATURE_TEMP) continue;
      const sensors_subfeature* input =
          sensors_get_subfeature(chip, feature, SENSORS_SUBFEATURE_TEMP_INPUT);
      if (input == nullptr) continue;
      all.push_back({chip, input->number});
      if (IsCpuChip(chip)) chip_inputs_.push_back(all.back());
    }
  }
  if (chip_inputs_.empty()) chip_inputs_ = std::move(all);
  return !chip_inputs_.empty();
}

void TemperatureSensor::Prepare() {
  Release();
  notice_.Reset();
  if (!PrepareChips()) {
    for (const std::string& zone : ListEntries(zone_folder_, "thermal_zone")) {
      zone_files_.push_back(zone_folder_ + "/" + zone + "/temp");
    }
  }
  Read();
}

void TemperatureSensor::Release() {
  chip_inputs_.clear();
  zone_files_.clear();
  if (chips_open_) sensors_cleanup();
  chips_open_ = false;
}

bool TemperatureSensor::ReadChips(double* hottest) const {
  bool any = false;
  for (const ChipInput& input : chip_inputs_) {
    double celsius = 0.0;
    if (sensors_get_value(input.chip, input.number, &celsius) != 0 ||
        !Plausible(celsius)) {
      continue;
    }
    *hottest = any ? std::max(*hottest, celsius) : celsius;
    any = true;
  }
  return any;
}

bool TemperatureSensor::ReadZones(double* hottest) const {
  bool any = false;
  for (const std::string& file : zone_files_) {
    const std::optional<double> millidegrees = ReadNumberFile(file);
    if (!millidegrees || !Plausible(*millidegrees / 1000.0)) continue;
    const double celsius = *millidegrees / 1000.0;
    *hottest = any ? std::max(*hottest, celsius) : celsius;
    any = true;
  }
  return any;
}

ResourceReading TemperatureSensor::Read() {
  double hottest = 0.0;
  const bool read = chips_open_ && !chip_inputs_.empty() ? ReadChips(&hottest)
                                                         : ReadZones(&hottest);
  if (!notice_.Note(read, "no temperature sensor answers (libsensors, " +
                              zone_folder_ +
                              "); the temperature element stays silent")) {
    return {};
  }
  return {true, hottest, true};
}

}  // namespace veska
