#include "app/hotkey.h"

#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/sonification.h"

namespace veska {

void RegisterHotkey(AppState& state) {
  state.services.shell->RegisterGlobalHotkey(state.KeyboardModifiers,
                                             state.KeyboardKey);
}

void OnHotkey(AppState& state) {
  if (state.KeyboardMode == 1) {
    PushToPlayPress(state);
  } else if (!state.services.shell->EventIsRepeat()) {
    // One hold is one toggle: the repeats of keys held a little long would
    // flip the sound at the keyboard's rate and leave it anywhere.
    NormalTogglePress(state);
  }
}

void NormalTogglePress(AppState& state) {
  if (state.HotkeyActive == 0) {
    state.HotkeyActive = 1;
    if (state.Muted == 0) {
      state.Muted = 1;
      state.services.sound->Stop(AllSounds);
    } else {
      state.Muted = 0;
      StartSounds(state.soundpack, state.monitor, state.Switches(),
                  *state.services.sound);
    }
  }
  // Active only for the length of the press; a value left over from
  // "Push To Play" is just cleared.
  if (state.HotkeyActive == 1) state.HotkeyActive = 0;
}

void PushToPlayPress(AppState& state) {
  if (state.HotkeyActive == 0) {
    state.HotkeyActive = 1;
    // Without this stamp the release check would find the time of an old
    // press and stop the sounds again in the very next pass.
    state.LastHotkeyTime = state.services.shell->ElapsedMs();
    StartSounds(state.soundpack, state.monitor, state.Switches(),
                *state.services.sound);
  } else if (state.HotkeyActive == 1) {
    state.LastHotkeyTime = state.services.shell->ElapsedMs();
  }
}

void CheckPushRelease(AppState& state) {
  if (state.HotkeyActive != 1) return;
  const uint32_t quiet =
      state.services.shell->ElapsedMs() - state.LastHotkeyTime;
  if (static_cast<int64_t>(quiet) <=
      static_cast<int64_t>(state.PushReleaseDelay)) {
    return;
  }
  state.HotkeyActive = 0;
  SoundEngine& sound = *state.services.sound;
  state.soundpack.SoundTable.ForEach(
      [&sound](const std::string&, int32_t handle) { sound.Stop(handle); });
}

}  // namespace veska
