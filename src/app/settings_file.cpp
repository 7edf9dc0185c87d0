#include "app/settings_file.h"

#include <cmath>

#include "app/resource_items.h"
#include "app/startup.h"
#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "soundpack/soundpack_loader.h"

namespace veska {
namespace {

constexpr const char* kGroup = "Settings";
constexpr float kDefaultVolume = 0.1f;

}  // namespace

void LoadSettings(AppState& state) {
  PreferencesStore& prefs = *state.services.prefs;
  if (prefs.OpenPreferences(kSettingsFileName) == 0) {
    // No file is a first run: the start values stay.
    SelectSoundpackOrEnd(state);
    prefs.ClosePreferences();
    return;
  }
  prefs.SelectGroup(kGroup);
  state.Path = prefs.ReadString("Path", "");
  state.Volume =
      static_cast<float>(prefs.ReadFloat("Volume", double{kDefaultVolume}));
  // A hand-edited "NaN" or infinity would reach every volume computation
  // and turn into garbage integers there.
  if (!std::isfinite(state.Volume)) state.Volume = kDefaultVolume;
  state.PlayRAM = prefs.ReadInteger("PlayRAM", 1);
  state.PlayCPU = prefs.ReadInteger("PlayCPU", 1);
  state.PlayDisk = prefs.ReadInteger("PlayDisk", 1);
  state.RefreshTime = prefs.ReadInteger("RefreshTime", 500);
  state.KeyboardMode = prefs.ReadInteger("KeyboardMode", 0);
  state.KeyboardModifiers = prefs.ReadInteger("KeyboardModifiers", 6);
  state.KeyboardKey = prefs.ReadInteger("KeyboardKey", 122);
  ReadResourceSwitches(state);

  // The soundpack's own "prefs.ini" replaces the settings file as the
  // store's current file, so every key is read before this.
  if (!state.Path.empty()) {
    if (LoadSoundpack(state.soundpack, state.monitor,
                      state.services.ForSoundpack(),
                      state.Path) == SoundpackChoice::kCancelled) {
      EndWithoutSoundpack(state);
    }
  } else {
    SelectSoundpackOrEnd(state);
  }
  prefs.ClosePreferences();
}

void SaveSettings(AppState& state) {
  PreferencesStore& prefs = *state.services.prefs;
  if (prefs.CreatePreferences(kSettingsFileName) == 0) {
    state.services.shell->ShowMessage("Error", "Can't write settings file.",
                                      kMessageOk);
    prefs.ClosePreferences();
    return;
  }
  prefs.SelectGroup(kGroup);
  prefs.WriteString("Path", state.Path);
  prefs.WriteFloat("Volume", static_cast<double>(state.Volume));
  prefs.WriteInteger("PlayRAM", state.PlayRAM);
  prefs.WriteInteger("PlayCPU", state.PlayCPU);
  prefs.WriteInteger("PlayDisk", state.PlayDisk);
  prefs.WriteInteger("RefreshTime", state.RefreshTime);
  prefs.WriteInteger("KeyboardMode", state.KeyboardMode);
  prefs.WriteInteger("KeyboardModifiers", state.KeyboardModifiers);
  prefs.WriteInteger("KeyboardKey", state.KeyboardKey);
  WriteResourceSwitches(state);
  if (!prefs.ClosePreferences()) {
    state.services.shell->ShowMessage("Error", "Can't write settings file.",
                                      kMessageOk);
  }
}

}  // namespace veska
