#include "app/startup.h"

#include <algorithm>

#include "app/hotkey.h"
#include "app/main_loop.h"
#include "app/runtime.h"
#include "app/settings_file.h"
#include "app/tray_menu.h"
#include "monitor/load_sampling.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/sonification.h"

namespace veska {

void StartUp(AppState& state, std::span<const SoundDecoder> decoders) {
  ShellServices& shell = *state.services.shell;

  // Placeholder size until the counter set-up knows the cores.
  state.CpuCounters.assign(2, 0);
  state.CoreLoads.assign(2, 0.0);

  // Either returns 1 or ends the process through the repair flow.
  SetUpDiskCounter(state);
  SetUpCpuCounters(state);

  // Without a device the program still runs, silently.
  state.services.sound->Open();
  for (const SoundDecoder& decoder : decoders) {
    state.services.sound->RegisterDecoder(decoder);
  }

  const std::size_t per_core =
      static_cast<std::size_t>(std::max(0, state.LastCoreIndex + 2));
  state.CoreLevels.assign(per_core, 0);
  state.CoreTargets.assign(per_core, 0);
  state.CoreSliding.assign(per_core, 0);
  const uint32_t now = shell.ElapsedMs();
  state.LastTooltipTime = now;
  state.LastSampleTime = now;
  state.LastSlideTime = now;
  state.LastHotkeyTime = now;

  // A missing image only means no tray icon; the hotkey still works.
  state.TrayImage = shell.LoadImage("VESKA.bmp");

  LoadSettings(state);

  shell.OpenHiddenWindow("VESKA");
  shell.AddTrayIcon(1, state.TrayImage);
  BuildTrayMenu(state);
  shell.SetTrayTooltip(1, "VESKA");
  RegisterHotkey(state);

  // Sounds play from the start in either keyboard mode.
  StartSounds(state);
}

void RunProgram(AppState& state, std::span<const SoundDecoder> decoders) {
  StartUp(state, decoders);
  RunMainLoop(state);
}

void ShutDown(AppState& state) {
  state.services.sound->Release(AllSounds);
  CloseCpuQuery(state);
  CloseDiskQuery(state);
  SaveSettings(state);
  RuntimeShutdown(state);
}

}  // namespace veska
