// Bringing the program up in its fixed order, and the "Exit" way out.
#ifndef VESKA_APP_STARTUP_H_
#define VESKA_APP_STARTUP_H_

#include <span>

#include "app/app_state.h"
#include "sound/sound_decoder.h"

namespace veska {

// Every start-up step up to and including the first StartSounds; returns
// ready for the main loop. `state.services` must be filled. The decoders are
// registered with the sound engine in the order given.
void StartUp(AppState& state, std::span<const SoundDecoder> decoders);

// StartUp, then the main loop; the process ends inside it.
[[noreturn]] void RunProgram(AppState& state,
                             std::span<const SoundDecoder> decoders);

// Frees the sounds, closes both queries, saves the settings and ends the
// process with exit code 0.
[[noreturn]] void ShutDown(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_STARTUP_H_
