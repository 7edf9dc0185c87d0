#include "app/tray_menu.h"

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/listen_to.h"
#include "app/main_loop.h"
#include "app/resource_items.h"
#include "app/startup.h"
#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/resource_elements.h"
#include "soundpack/sonification.h"

namespace veska {
namespace {

struct Preset {
  int32_t id;
  const char* text;
};

constexpr std::array<Preset, 5> kVolumeItems = {{{kMenuVolume100, "100%"},
                                                 {kMenuVolume75, "75%"},
                                                 {kMenuVolume50, "50%"},
                                                 {kMenuVolume25, "25%"},
                                                 {kMenuVolume10, "10%"}}};
constexpr std::array<float, 5> kVolumeValues = {1.0f, 0.75f, 0.5f, 0.25f, 0.1f};

constexpr std::array<Preset, 7> kRefreshItems = {{{9, "Quarter second"},
                                                  {10, "Half second"},
                                                  {11, "1 second"},
                                                  {12, "1.5 seconds"},
                                                  {13, "2 seconds"},
                                                  {14, "5 seconds"},
                                                  {15, "10 seconds"}}};
constexpr std::array<int32_t, 7> kRefreshValues = {250,  500,  1000, 1500,
                                                   2000, 5000, 10000};

// One sound of a resource and the volume it starts at.
struct Element {
  std::string key;
  int32_t start_volume;
};

std::vector<Element> CpuElements(const AppState& state) {
  std::vector<Element> elements;
  const SoundpackState& soundpack = state.soundpack;
  if (soundpack.UseAverages != 0) {
    if (soundpack.CPUSoundMode < 2) {
      elements.push_back({"cpu", 0});
    } else {
      // The cross-fade's "a" side starts barely audible, as StartSounds does.
      elements.push_back({"cpua", 9});
      elements.push_back({"cpub", 0});
    }
    return elements;
  }
  for (int32_t core = 0; core <= state.monitor.LastCoreIndex; ++core) {
    const std::string n = std::to_string(core);
    if (soundpack.CPUSoundMode < 2) {
      elements.push_back({"cpu" + n, 0});
    } else {
      elements.push_back({"cpua" + n, 0});
      elements.push_back({"cpub" + n, 0});
    }
  }
  return elements;
}

std::vector<Element> PairOrSingle(int32_t mode, const std::string& name) {
  if (mode < 2) return {{name, 0}};
  return {{name + "a", 0}, {name + "b", 0}};
}

// Switches one resource on or off, its flag and check mark with it. The
// sounds follow at once, whatever the hotkey state.
void ToggleElements(AppState& state, int32_t& flag, int32_t item,
                    const std::vector<Element>& elements) {
  SoundEngine& sound = *state.services.sound;
  const bool turn_off = flag == 1;
  flag = turn_off ? 0 : 1;
  state.services.shell->SetMenuCheck(item, !turn_off);
  for (const Element& element : elements) {
    const int32_t handle = state.soundpack.SoundTable.FindOrAdd(element.key);
    if (turn_off) {
      sound.Stop(handle);
    } else {
      sound.Play(handle, PlayLoop, element.start_volume);
    }
  }
}

template <std::size_t N>
void CheckOnly(ShellServices& shell, const std::array<Preset, N>& items,
               int32_t chosen) {
  for (const Preset& item : items)
    shell.SetMenuCheck(item.id, item.id == chosen);
}

void AskCustomVolume(AppState& state) {
  ShellServices& shell = *state.services.shell;
  const std::string default_text =
      std::to_string(RoundHalfEven(static_cast<double>(state.Volume) * 100.0));
  const std::optional<std::string> answer = shell.TextRequester(
      "Volume",
      "Enter a percentage between 0 and 100, without the percent sign.",
      default_text);
  // A closed dialog is not an answer: silencing the program because the
  // user changed their mind would be wrong. An empty answer is one, and
  // reads as 0.
  state.VolumeInput = answer.value_or("");
  if (!answer.has_value()) return;

  // Clamped before narrowing: a typed 1e39 has no float to become.
  double value = ParseFloatText(state.VolumeInput);
  if (std::isnan(value)) {
    shell.ShowMessage("Error", "Can't get the program to crash this way!",
                      kMessageOk);
    value = 10.0;
  }
  if (value < 0.0) value = 0.0;
  if (value > 100.0) value = 100.0;
  state.Volume = static_cast<float>(value) / 100.0f;
}

// Asks the desktop afresh, as the entry may have changed since the menu was
// built; the mark then says what is there, also after a failure.
void ToggleLoginStart(ShellServices& shell) {
  const bool on = !shell.LoginStartExists();
  std::string error;
  if (!shell.SetLoginStart(on, &error)) {
    shell.ShowMessage(
        "Error",
        std::string(on ? "VESKA cannot start at login: "
                       : "VESKA cannot stop starting at login: ") +
            error,
        kMessageOk);
  }
  shell.SetMenuCheck(kMenuStartAtLogin, shell.LoginStartExists());
}

}  // namespace

void BuildTrayMenu(AppState& state) {
  ShellServices& shell = *state.services.shell;
  shell.CreatePopupMenu();
  shell.AddMenuItem(kMenuLoadSoundpack, "Load soundpack...");

  shell.OpenSubMenu("Volume");
  bool preset_checked = false;
  for (std::size_t i = 0; i < kVolumeItems.size(); ++i) {
    shell.AddMenuItem(kVolumeItems[i].id, kVolumeItems[i].text);
    if (state.Volume == kVolumeValues[i]) {
      shell.SetMenuCheck(kVolumeItems[i].id, true);
      preset_checked = true;
    }
  }
  shell.AddMenuItem(kMenuCustomVolume, "Custom...");
  if (!preset_checked) shell.SetMenuCheck(kMenuCustomVolume, true);
  shell.CloseSubMenu();

  shell.OpenSubMenu("Elements");
  shell.AddMenuItem(kMenuCpu, "CPU");
  if (state.PlayCPU == 1) shell.SetMenuCheck(kMenuCpu, true);
  shell.AddMenuItem(kMenuRam, "RAM");
  if (state.PlayRAM == 1) shell.SetMenuCheck(kMenuRam, true);
  // Decided once: a later pack with disk sounds does not add the item.
  if (state.soundpack.HasDiskSounds == 1) {
    shell.AddMenuItem(kMenuDisk, "Disk");
    if (state.PlayDisk == 1) shell.SetMenuCheck(kMenuDisk, true);
  }
  AddResourceMenuItems(state);
  shell.CloseSubMenu();

  // No refresh item is checked until one is chosen.
  shell.OpenSubMenu("Refresh Time");
  for (const Preset& item : kRefreshItems)
    shell.AddMenuItem(item.id, item.text);
  shell.CloseSubMenu();

  shell.OpenSubMenu("Keyboard Mode");
  shell.AddMenuItem(kMenuNormalToggle, "Normal Toggle");
  if (state.KeyboardMode != 1) shell.SetMenuCheck(kMenuNormalToggle, true);
  shell.AddMenuItem(kMenuPushToPlay, "Push To Play");
  if (state.KeyboardMode == 1) shell.SetMenuCheck(kMenuPushToPlay, true);
  shell.CloseSubMenu();

  AddListenMenu(state);
  shell.AddMenuItem(kMenuStartAtLogin, "Start at login");
  if (shell.LoginStartExists()) shell.SetMenuCheck(kMenuStartAtLogin, true);
  shell.AddMenuItem(kMenuExit, "Exit");
}

bool MenuCommandSavesSettings(int32_t id) {
  return id != kMenuStartAtLogin && id < kMenuListenFirst;
}

void ReloadSoundpack(AppState& state) {
  SoundpackState& soundpack = state.soundpack;
  state.services.sound->Release(AllSounds);
  soundpack.SoundTable.Clear();
  // Levels and targets stay, so the new sounds continue where the old ones
  // were; new targets come with the next pass.
  soundpack.RAMSliding = 0;
  soundpack.DiskSliding = 0;
  soundpack.CpuSliding = 0;
  for (state.CoreIndex = 0;
       state.CoreIndex <= state.monitor.LastCoreIndex &&
       state.CoreIndex < static_cast<int32_t>(soundpack.CoreSliding.size());
       ++state.CoreIndex) {
    soundpack.CoreSliding[static_cast<std::size_t>(state.CoreIndex)] = 0;
  }
  SelectSoundpackOrEnd(state);
  FollowSoundpackResources(state);
  StartSounds(soundpack, state.monitor, state.Switches(),
              *state.services.sound);
}

void RunMenuCommand(AppState& state, int32_t id) {
  ShellServices& shell = *state.services.shell;
  switch (id) {
    case kMenuLoadSoundpack:
      ReloadSoundpack(state);
      return;
    case kMenuExit:
      ShutDown(state);
    case kMenuVolume100:
    case kMenuVolume75:
    case kMenuVolume50:
    case kMenuVolume25:
    case kMenuVolume10:
      // "Custom..." keeps whatever mark it has.
      state.Volume =
          kVolumeValues[static_cast<std::size_t>(id - kMenuVolume100)];
      CheckOnly(shell, kVolumeItems, id);
      return;
    case kMenuCustomVolume:
      AskCustomVolume(state);
      return;
    case kMenuCpu:
      ToggleElements(state, state.PlayCPU, kMenuCpu, CpuElements(state));
      return;
    case kMenuRam:
      ToggleElements(state, state.PlayRAM, kMenuRam,
                     PairOrSingle(state.soundpack.RAMSoundMode, "ram"));
      return;
    case kMenuDisk:
      ToggleElements(state, state.PlayDisk, kMenuDisk,
                     PairOrSingle(state.soundpack.DiskSoundMode, "Disk"));
      return;
    case kMenuNormalToggle:
      state.KeyboardMode = 0;
      shell.SetMenuCheck(kMenuNormalToggle, true);
      shell.SetMenuCheck(kMenuPushToPlay, false);
      return;
    case kMenuPushToPlay:
      state.KeyboardMode = 1;
      shell.SetMenuCheck(kMenuNormalToggle, false);
      shell.SetMenuCheck(kMenuPushToPlay, true);
      return;
    case kMenuStartAtLogin:
      ToggleLoginStart(shell);
      return;
    default:
      if (const std::optional<Resource> resource = ResourceOfMenuItem(id)) {
        const std::size_t index = IndexOf(*resource);
        ToggleElements(state, state.PlayResources[index], id,
                       PairOrSingle(state.soundpack.Resources[index].SoundMode,
                                    kResourceElements[index].name));
        return;
      }
      if (RunListenCommand(state, id)) return;
      if (id >= kMenuRefreshQuarter && id <= kMenuRefresh10s) {
        state.RefreshTime =
            kRefreshValues[static_cast<std::size_t>(id - kMenuRefreshQuarter)];
        CheckOnly(shell, kRefreshItems, id);
      }
      return;
  }
}

}  // namespace veska
