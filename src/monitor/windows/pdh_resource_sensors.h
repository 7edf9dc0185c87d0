// The optional resources on Windows: the network, GPU and thermal zone
// figures from the counter service (pdh.dll, by the counters' English
// names, every instance of each through a wildcard path), the battery from
// the kernel's power status.
//
// pdh.dll is loaded by name, as for the load counters: a missing service or
// counter leaves that resource unavailable, never the program unable to
// start.
#ifndef VESKA_MONITOR_WINDOWS_PDH_RESOURCE_SENSORS_H_
#define VESKA_MONITOR_WINDOWS_PDH_RESOURCE_SENSORS_H_

#include <array>
#include <cstdio>

#include "monitor/resource_sensors.h"

namespace veska {

class PdhResourceSensors : public ResourceSensors {
 public:
  // `messages` gets the line that says a resource's element stays silent.
  explicit PdhResourceSensors(std::FILE* messages = stderr);
  ~PdhResourceSensors() override;
  PdhResourceSensors(const PdhResourceSensors&) = delete;
  PdhResourceSensors& operator=(const PdhResourceSensors&) = delete;

  void Prepare(Resource resource) override;
  void Release(Resource resource) override;
  ResourceReading Read(Resource resource) override;

 private:
  // One wildcard counter in a query of its own.
  struct Source {
    void* query = nullptr;    // PDH_HQUERY
    void* counter = nullptr;  // PDH_HCOUNTER
    double scale = 1.0;       // to the unit of the reading's figure
  };

  void* Find(const char* name) const;
  bool Open(Source& source, const wchar_t* path);
  ResourceReading ReadCounter(Resource resource, Source& source);
  ResourceReading ReadBattery();
  // Returns `answered`. Says that nothing reports the resource, once from
  // its Prepare or from its last answer on.
  bool Note(Resource resource, bool answered);

  std::FILE* messages_;
  void* module_ = nullptr;  // HMODULE of pdh.dll
  void* open_query_ = nullptr;
  void* add_counter_ = nullptr;
  void* collect_ = nullptr;
  void* counter_array_ = nullptr;
  void* close_query_ = nullptr;
  std::array<Source, kResourceCount> sources_{};
  std::array<bool, kResourceCount> told_{};
};

}  // namespace veska

#endif  // VESKA_MONITOR_WINDOWS_PDH_RESOURCE_SENSORS_H_
