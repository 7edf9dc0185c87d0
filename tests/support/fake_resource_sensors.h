// Optional resources fed by the test: each Read answers the reading the test
// set, and every call is logged ("Prepare 0", "Read 2", "Release 0").
#ifndef VESKA_TESTS_SUPPORT_FAKE_RESOURCE_SENSORS_H_
#define VESKA_TESTS_SUPPORT_FAKE_RESOURCE_SENSORS_H_

#include <array>
#include <string>
#include <vector>

#include "monitor/resource_sensors.h"

namespace veska::testing {

class FakeResourceSensors : public ResourceSensors {
 public:
  std::array<ResourceReading, kResourceCount> readings{};
  std::vector<std::string> calls;

  void Set(Resource resource, double value, bool on_mains = true) {
    readings[static_cast<int>(resource)] = {true, value, on_mains};
  }
  void Prepare(Resource resource) override { Log("Prepare", resource); }
  void Release(Resource resource) override { Log("Release", resource); }
  ResourceReading Read(Resource resource) override {
    Log("Read", resource);
    return readings[static_cast<int>(resource)];
  }
  int Count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
  }

 private:
  void Log(const char* what, Resource resource) {
    calls.push_back(std::string(what) + " " +
                    std::to_string(static_cast<int>(resource)));
  }
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_FAKE_RESOURCE_SENSORS_H_
