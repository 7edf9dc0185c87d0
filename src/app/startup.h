// Bringing the program up in its fixed order, and every way out.
#ifndef VESKA_APP_STARTUP_H_
#define VESKA_APP_STARTUP_H_

#include <span>

#include "app/app_state.h"
#include "sound/sound_decoder.h"
#include "sound/sound_device.h"

namespace veska {

// What a platform's main() picks; the rest of start-up is the same on every
// platform.
struct Bindings {
  CounterLibrary& counters;
  SoundDevice& device;
  ShellServices& shell;
  // Registered with the sound engine in this order.
  std::span<const SoundDecoder> decoders;
  // The optional resources; none is read without it.
  ResourceSensors* sensors = nullptr;
  // What "Listen to" offers, `counters` being choice `listen_index`; none
  // where there is no source.
  std::span<const ListenChoice> listen_choices = {};
  std::size_t listen_index = 0;
};

// Every start-up step up to and including the first StartSounds; returns
// ready for the main loop. `state.services` must be filled. The decoders are
// registered with the sound engine in the order given.
void StartUp(AppState& state, std::span<const SoundDecoder> decoders);

// Makes the sound engine, the preferences store and the state over the
// bindings, then StartUp and the main loop; the process ends inside it.
[[noreturn]] void RunProgram(const Bindings& bindings);

// "Exit": frees the sounds, closes both queries, saves the settings and ends
// the process with exit code 0.
[[noreturn]] void ShutDown(AppState& state);

// Counters that cannot be set up: offers the repair, says what follows
// (starting the repair utility when chosen) and ends the process with exit
// code 0, saving nothing.
[[noreturn]] void EndForBrokenCounters(AppState& state);

// Another instance holds the desktop session: says so and ends the process
// with exit code 0, having read, opened and saved nothing.
[[noreturn]] void EndAsSecondInstance(AppState& state);

// No soundpack chosen: says so and ends the process with exit code 0, saving
// nothing.
[[noreturn]] void EndWithoutSoundpack(AppState& state);

// Asks for a soundpack until one is loaded, or ends the process when none is
// chosen.
void SelectSoundpackOrEnd(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_STARTUP_H_
