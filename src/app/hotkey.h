// The one global hotkey: "Normal Toggle" mutes and unmutes with each press,
// "Push To Play" sounds only while the keys are held.
#ifndef VESKA_APP_HOTKEY_H_
#define VESKA_APP_HOTKEY_H_

#include "app/app_state.h"

namespace veska {

// Registers hotkey id 0 with the stored keys; a taken key is not reported.
void RegisterHotkey(AppState& state);

// A hotkey event with id 0, by keyboard mode. "Normal Toggle" acts on new
// presses only; "Push To Play" counts the repeats of held keys too.
void OnHotkey(AppState& state);
void NormalTogglePress(AppState& state);
void PushToPlayPress(AppState& state);

// Stops every sound once no hotkey event came for PushReleaseDelay ms.
void CheckPushRelease(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_HOTKEY_H_
