#include "monitor/resource_loads.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace veska {
namespace {

constexpr double kQuietBytesPerSecond = 1e3;
constexpr double kLoudBytesPerSecond = 1e9;
constexpr double kCoolCelsius = 30.0;
constexpr double kHotCelsius = 100.0;

// NaN and infinities from a broken source read as nothing rather than
// reaching the levels.
double Percent(double value) {
  if (!std::isfinite(value)) return 0.0;
  return std::clamp(value, 0.0, 100.0);
}

double NetworkLoad(double bytes_per_second) {
  if (!(bytes_per_second > kQuietBytesPerSecond)) return 0.0;
  const double decades = std::log10(kLoudBytesPerSecond / kQuietBytesPerSecond);
  return Percent(std::log10(bytes_per_second / kQuietBytesPerSecond) / decades *
                 100.0);
}

double TemperatureLoad(double celsius) {
  return Percent((celsius - kCoolCelsius) / (kHotCelsius - kCoolCelsius) *
                 100.0);
}

double BatteryLoad(const ResourceReading& reading) {
  const double charge = std::isfinite(reading.value) ? reading.value : 100.0;
  if (reading.on_mains && charge >= 100.0) return 0.0;
  return Percent(100.0 - charge);
}

// What a silent element's figure reads as: no battery is a full one.
double FigureWithoutReading(Resource resource) {
  return resource == Resource::kBattery ? 100.0 : 0.0;
}

}  // namespace

double ResourceLoad(Resource resource, const ResourceReading& reading) {
  if (!reading.available) return 0.0;
  switch (resource) {
    case Resource::kNetwork:
      return NetworkLoad(reading.value);
    case Resource::kGpu:
      return Percent(reading.value);
    case Resource::kTemperature:
      return TemperatureLoad(reading.value);
    case Resource::kBattery:
      return BatteryLoad(reading);
  }
  return 0.0;
}

void SampleResource(MonitorState& state, ResourceSensors& sensors,
                    Resource resource) {
  const auto index = static_cast<std::size_t>(resource);
  if (index >= state.ResourceLoads.size()) return;
  const ResourceReading reading = sensors.Read(resource);
  state.ResourceFigures[index] =
      reading.available ? reading.value : FigureWithoutReading(resource);
  state.ResourceLoads[index] = ResourceLoad(resource, reading);
}

}  // namespace veska
