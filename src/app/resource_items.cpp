#include "app/resource_items.h"

#include <array>
#include <cstddef>

#include "monitor/resource_loads.h"
#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "soundpack/resource_elements.h"
#include "soundpack/sonification.h"

namespace veska {
namespace {

struct ResourceItem {
  Resource resource;
  int32_t menu_id;
  const char* menu_text;
  const char* setting;
  const char* tooltip_label;
  // The tooltip shows the figure (degrees, charge) rather than the load.
  bool shows_figure;
  const char* unit;
};

constexpr std::array<ResourceItem, kResourceCount> kResourceItems = {{
    {Resource::kNetwork, kMenuNetwork, "Network", "PlayNetwork",
     " - Net: ", false, "%"},
    {Resource::kGpu, kMenuGpu, "GPU", "PlayGPU", " - GPU: ", false, "%"},
    {Resource::kTemperature, kMenuTemperature, "Temperature", "PlayTemperature",
     " - Temp: ", true,
     "\xC2\xB0"
     "C"},
    {Resource::kBattery, kMenuBattery, "Battery", "PlayBattery",
     " - Battery: ", true, "%"},
}};

bool PackHas(const AppState& state, Resource resource) {
  return state.soundpack.Resources[IndexOf(resource)].HasSounds == 1;
}

int32_t& SwitchOf(AppState& state, Resource resource) {
  return state.PlayResources[IndexOf(resource)];
}

}  // namespace

void AddResourceMenuItems(AppState& state) {
  ShellServices& shell = *state.services.shell;
  for (const ResourceItem& item : kResourceItems) {
    if (!PackHas(state, item.resource)) continue;
    shell.AddMenuItem(item.menu_id, item.menu_text);
    if (SwitchOf(state, item.resource) == 1) {
      shell.SetMenuCheck(item.menu_id, true);
    }
  }
}

std::optional<Resource> ResourceOfMenuItem(int32_t id) {
  for (const ResourceItem& item : kResourceItems) {
    if (item.menu_id == id) return item.resource;
  }
  return std::nullopt;
}

void ReadResourceSwitches(AppState& state) {
  PreferencesStore& prefs = *state.services.prefs;
  for (const ResourceItem& item : kResourceItems) {
    SwitchOf(state, item.resource) = prefs.ReadInteger(item.setting, 1);
  }
}

void WriteResourceSwitches(const AppState& state) {
  PreferencesStore& prefs = *state.services.prefs;
  for (const ResourceItem& item : kResourceItems) {
    if (PackHas(state, item.resource)) {
      prefs.WriteInteger(item.setting,
                         state.PlayResources[IndexOf(item.resource)]);
    }
  }
}

std::string ResourceTooltipText(const AppState& state) {
  std::string text;
  for (const ResourceItem& item : kResourceItems) {
    if (!PackHas(state, item.resource)) continue;
    const std::size_t index = IndexOf(item.resource);
    const double shown = item.shows_figure
                             ? state.monitor.ResourceFigures[index]
                             : state.monitor.ResourceLoads[index];
    text +=
        item.tooltip_label + std::to_string(RoundHalfEven(shown)) + item.unit;
  }
  return text;
}

void SampleResources(AppState& state) {
  if (state.services.sensors == nullptr) return;
  for (const ResourceItem& item : kResourceItems) {
    if (PackHas(state, item.resource)) {
      SampleResource(state.monitor, *state.services.sensors, item.resource);
    }
  }
}

void FollowSoundpackResources(AppState& state) {
  for (const ResourceItem& item : kResourceItems) {
    const std::size_t index = IndexOf(item.resource);
    state.soundpack.Resources[index].Sliding = 0;
    const bool wanted = PackHas(state, item.resource);
    if (state.SensorsPrepared[index] == wanted) continue;
    state.SensorsPrepared[index] = wanted;
    if (state.services.sensors == nullptr) continue;
    if (wanted) {
      state.services.sensors->Prepare(item.resource);
    } else {
      state.services.sensors->Release(item.resource);
    }
  }
}

void ReleaseResourceSensors(AppState& state) {
  for (const ResourceItem& item : kResourceItems) {
    const std::size_t index = IndexOf(item.resource);
    if (!state.SensorsPrepared[index]) continue;
    state.SensorsPrepared[index] = false;
    if (state.services.sensors != nullptr) {
      state.services.sensors->Release(item.resource);
    }
  }
}

}  // namespace veska
