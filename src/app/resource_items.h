// What the application keeps of the optional elements (network, GPU,
// temperature, battery): their menu items, their switches in
// "settings.ini", their parts of the tooltip, when their figures are read
// and when the sensors are prepared. Each shows only while the loaded pack
// has the element, so nothing changes for packs without them.
#ifndef VESKA_APP_RESOURCE_ITEMS_H_
#define VESKA_APP_RESOURCE_ITEMS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "app/app_state.h"

namespace veska {

// "Network", "GPU", "Temperature", "Battery": after "Disk", in this order.
inline constexpr int32_t kMenuNetwork = 21;
inline constexpr int32_t kMenuGpu = 22;
inline constexpr int32_t kMenuTemperature = 23;
inline constexpr int32_t kMenuBattery = 24;

// The items of the elements the pack has, checked as their switches are.
void AddResourceMenuItems(AppState& state);
// The resource a menu id switches, if it is one of the items above.
std::optional<Resource> ResourceOfMenuItem(int32_t id);

// "PlayNetwork" ... "PlayBattery"; read whatever the pack, written after the
// other keys only for the elements the pack has.
void ReadResourceSwitches(AppState& state);
void WriteResourceSwitches(const AppState& state);

// " - Net: n%", " - GPU: n%", " - Temp: n°C", " - Battery: n%" for the
// elements the pack has; empty for the others.
std::string ResourceTooltipText(const AppState& state);

// One read of every element the pack has, at the sample time.
void SampleResources(AppState& state);

// After a pack is loaded: the elements' slides start afresh, and the sensors
// are prepared for the elements the pack has now and released for those it
// no longer has.
void FollowSoundpackResources(AppState& state);
// At the end: every prepared sensor released.
void ReleaseResourceSensors(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_RESOURCE_ITEMS_H_
