// The optional elements beyond CPU, RAM and disk, one row per Resource: the
// files a pack gives them, their sound table keys and their mode's key in
// the pack's "prefs.ini". A pack has an element when it has its files; each
// is then heard as RAM and disk are, by its mode.
#ifndef VESKA_SOUNDPACK_RESOURCE_ELEMENTS_H_
#define VESKA_SOUNDPACK_RESOURCE_ELEMENTS_H_

#include <array>
#include <cstddef>

#include "monitor/resource_sensors.h"

namespace veska {

struct ResourceElement {
  Resource resource;
  // File stem and sound table key: "net" gives net, net_a, net_b and the
  // keys net, neta, netb.
  const char* name;
  const char* mode_key;
};

inline constexpr std::array<ResourceElement, kResourceCount> kResourceElements =
    {{{Resource::kNetwork, "net", "NetSoundMode"},
      {Resource::kGpu, "gpu", "GPUSoundMode"},
      {Resource::kTemperature, "temp", "TempSoundMode"},
      {Resource::kBattery, "battery", "BatterySoundMode"}}};

constexpr std::size_t IndexOf(Resource resource) {
  return static_cast<std::size_t>(resource);
}

}  // namespace veska

#endif  // VESKA_SOUNDPACK_RESOURCE_ELEMENTS_H_
