#include "app/startup.h"

#include <algorithm>
#include <memory>

#include "app/hotkey.h"
#include "app/main_loop.h"
#include "app/resource_items.h"
#include "app/runtime.h"
#include "app/settings_file.h"
#include "app/tray_menu.h"
#include "monitor/counter_repair.h"
#include "monitor/load_sampling.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/sonification.h"
#include "soundpack/soundpack_selection.h"

namespace veska {
namespace {

constexpr const char* kInformationTitle = "Information";
constexpr const char* kRepairText =
    "VESKA will now run a small utility which will fix your counters. For "
    "this, it needs to ask for administrator privilidges. VESKA will then "
    "exit. After this process is complete, restart VESKA, and hopefully "
    "everything will work as expected. If you're still having problems, but "
    "you've already done all this, then please send me a mail.";
constexpr const char* kAlreadyRunningText =
    "VESKA is already running: its icon is in the notification area.";
constexpr const char* kCloseText =
    "VESKA will not work without these counters. To prevent anything weird, "
    "VESKA will now close.";

}  // namespace

void StartUp(AppState& state, std::span<const SoundDecoder> decoders) {
  ShellServices& shell = *state.services.shell;
  CounterLibrary& counters = *state.services.counters;

  // A second instance would double the sound and race the first one's
  // saves, so it leaves before it reads or opens anything.
  if (!shell.ClaimSession()) EndAsSecondInstance(state);

  // Placeholder size until the counter set-up knows the cores.
  state.monitor.CpuCounters.assign(2, 0);
  state.monitor.CoreLoads.assign(2, 0.0);

  // A refused step ends the process through the repair offer.
  if (SetUpDiskCounter(state.monitor, counters) == 0 ||
      SetUpCpuCounters(state.monitor, counters) == 0) {
    EndForBrokenCounters(state);
  }

  // Without a device the program still runs, silently.
  state.services.sound->Open();
  for (const SoundDecoder& decoder : decoders) {
    state.services.sound->RegisterDecoder(decoder);
  }

  const std::size_t per_core =
      static_cast<std::size_t>(std::max(0, state.monitor.LastCoreIndex + 2));
  state.soundpack.CoreLevels.assign(per_core, 0);
  state.soundpack.CoreTargets.assign(per_core, 0);
  state.soundpack.CoreSliding.assign(per_core, 0);
  const uint32_t now = shell.ElapsedMs();
  state.LastTooltipTime = now;
  state.LastSampleTime = now;
  state.LastSlideTime = now;
  state.LastHotkeyTime = now;

  // A missing image only means no tray icon; the hotkey still works.
  state.TrayImage = shell.LoadImage("VESKA.bmp");

  LoadSettings(state);
  FollowSoundpackResources(state);

  shell.OpenHiddenWindow("VESKA");
  shell.AddTrayIcon(1, state.TrayImage);
  BuildTrayMenu(state);
  shell.SetTrayTooltip(1, "VESKA");
  RegisterHotkey(state);

  // Sounds play from the start in either keyboard mode.
  StartSounds(state.soundpack, state.monitor, state.Switches(),
              *state.services.sound);
}

void RunProgram(const Bindings& bindings) {
  // The process ends inside the main loop while these still live.
  SoundEngine engine(&bindings.device);
  PreferencesStore prefs;
  auto state = std::make_unique<AppState>();
  state->services = {&bindings.counters, &engine, &bindings.shell, &prefs,
                     bindings.sensors};
  state->listen.choices.assign(bindings.listen_choices.begin(),
                               bindings.listen_choices.end());
  state->listen.current = bindings.listen_index;
  StartUp(*state, bindings.decoders);
  RunMainLoop(*state);
}

void ShutDown(AppState& state) {
  state.services.sound->Release(AllSounds);
  CloseCpuQuery(state.monitor, *state.services.counters);
  CloseDiskQuery(state.monitor, *state.services.counters);
  ReleaseResourceSensors(state);
  SaveSettings(state);
  RuntimeShutdown(state);
}

void EndForBrokenCounters(AppState& state) {
  ShellServices& shell = *state.services.shell;
  if (OfferCounterRepair(shell) == CounterRepairOutcome::kRepairChosen) {
    shell.ShowMessage(kInformationTitle, kRepairText, kMessageOk);
    RunElevated(shell, kCounterRepairUtility, "");
  } else {
    shell.ShowMessage(kInformationTitle, kCloseText, kMessageOk);
  }
  // The queries stay open and nothing is saved.
  RuntimeShutdown(state);
}

void EndAsSecondInstance(AppState& state) {
  state.services.shell->ShowMessage(kInformationTitle, kAlreadyRunningText,
                                    kMessageOk);
  RuntimeShutdown(state);
}

void EndWithoutSoundpack(AppState& state) {
  state.services.shell->ShowMessage(
      "No soundpack selected",
      "You didn't select a soundpack. Exiting program.", kMessageOk);
  RuntimeShutdown(state);
}

void SelectSoundpackOrEnd(AppState& state) {
  if (SelectSoundpack(state.soundpack, state.monitor,
                      state.services.ForSoundpack(),
                      state.Path) == SoundpackChoice::kCancelled) {
    EndWithoutSoundpack(state);
  }
}

}  // namespace veska
