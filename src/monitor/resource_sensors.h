// The optional resources beyond the counters (network, GPU, temperature,
// battery), each read from the platform as one physical figure. A sibling of
// CounterLibrary: each platform folder of src/monitor/ has a binding, and the
// mapping of a figure to a load of 0..100 is portable (load sampling).
#ifndef VESKA_MONITOR_RESOURCE_SENSORS_H_
#define VESKA_MONITOR_RESOURCE_SENSORS_H_

#include <cstdint>

namespace veska {

// In the order of their menu items, settings keys and tooltip parts.
enum class Resource : int32_t { kNetwork = 0, kGpu, kTemperature, kBattery };
inline constexpr int32_t kResourceCount = 4;

// One read of one resource. `available` is false when no source answers (no
// interface, no GPU that reports, no sensor, unreadable files); the figure is
// then 0 and the element stays silent.
struct ResourceReading {
  bool available = false;
  // kNetwork: bytes per second received plus sent, every interface but
  // loopback (a rate: the first read after Prepare gives 0).
  // kGpu: the busiest engine's utilisation, percent.
  // kTemperature: the hottest CPU package or thermal zone, degrees Celsius.
  // kBattery: the charge left, percent (100 with no battery).
  double value = 0.0;
  // kBattery: true on mains power, or with no battery at all.
  bool on_mains = true;
};

class ResourceSensors {
 public:
  virtual ~ResourceSensors() = default;
  // Called when a pack that has the resource is loaded, before the first
  // Read; a binding opens what it reads here and may say once on standard
  // error that nothing reports.
  virtual void Prepare(Resource resource) = 0;
  // Called when the loaded pack no longer has the resource.
  virtual void Release(Resource resource) = 0;
  // Once per sample, at the same RefreshTime as the counters, only while the
  // loaded pack has the resource.
  virtual ResourceReading Read(Resource resource) = 0;
};

}  // namespace veska

#endif  // VESKA_MONITOR_RESOURCE_SENSORS_H_
