// A scripted load for previews: phases of a few seconds, each setting the
// CPU cores, RAM, disk and the optional elements to a level, a ramp or
// bursts.
//
//   SPEC   = PHASE { ";" PHASE }
//   PHASE  = [ NAME "@" ] SECONDS ":" [ SET { "," SET } ]
//   SET    = ( "cpu" | "cpu" CORE | "ram" | "disk" | "net" | "gpu" | "temp"
//            | "battery" ) "=" VALUE
//   VALUE  = P            the load in percent, 0 to 100, all through the phase
//          | P ".." Q     a straight ramp from P to Q over the phase
//          | P "/" Q      bursts: P and Q by turns, a second each
//
// "cpu" sets every core; a load a phase does not set keeps its value from
// the end of the phase before (0 at the start). A script lasts at most ten
// minutes.
// Example: "idle@5:cpu=0,ram=30;busy@10:cpu0=100,disk=80/0"
#ifndef VESKA_TOOLS_VESKA_PACK_LOAD_SCRIPT_H_
#define VESKA_TOOLS_VESKA_PACK_LOAD_SCRIPT_H_

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "monitor/resource_sensors.h"

namespace veska::pack {

struct LoadValue {
  enum Kind { kLevel, kRamp, kBursts } kind = kLevel;
  double from = 0;
  double to = 0;
  double At(double seconds_into_phase, double phase_seconds) const;
};

// Loads in percent at one moment.
struct LoadPoint {
  std::vector<double> cores;
  double ram = 0;
  double disk = 0;
  // The optional elements' loads, by Resource.
  std::array<double, kResourceCount> resources{};
};

class LoadScript {
 public:
  struct Phase {
    std::string name;
    double seconds = 0;
    std::vector<LoadValue> cores;
    LoadValue ram, disk;
    std::array<LoadValue, kResourceCount> resources;
  };

  // Idle, one core busy, every core busy, RAM rising, disk bursts, idle: ten
  // seconds each.
  static LoadScript Default(int cores);
  // Nothing, with `error` saying what is wrong, for a malformed spec or one
  // that names a core beyond `cores`.
  static std::optional<LoadScript> Parse(const std::string& spec, int cores,
                                         std::string* error);

  // Straight ramps from each point to the next, `seconds` apart; at least
  // two points, with as many cores each as the first.
  static LoadScript FromPoints(const std::vector<LoadPoint>& points,
                               double seconds);

  const std::vector<Phase>& phases() const { return phases_; }
  double Seconds() const;
  // Past the end, the end's loads.
  LoadPoint At(double seconds) const;

 private:
  std::vector<Phase> phases_;
};

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_LOAD_SCRIPT_H_
