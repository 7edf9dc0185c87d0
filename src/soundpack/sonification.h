// Levels that glide towards the loads, and the sounds they drive.
#ifndef VESKA_SOUNDPACK_SONIFICATION_H_
#define VESKA_SOUNDPACK_SONIFICATION_H_

#include <cstdint>

#include "monitor/monitor_state.h"
#include "sound/sound_engine.h"
#include "soundpack/soundpack_state.h"

namespace veska {

// The elements the user has switched on; the application keeps these flags
// with its settings.
struct ElementSwitches {
  int32_t PlayCPU = 1;
  int32_t PlayRAM = 1;
  int32_t PlayDisk = 1;
};

// Every main-loop pass: the CPU average, and new targets for the levels that
// have finished sliding.
void UpdateTargets(SoundpackState& state, MonitorState& monitor);
// Every SlideInterval: each sliding level one unit nearer its target, then
// the volumes and frequencies that follow from the levels and `volume`.
void UpdateSounds(SoundpackState& state, const MonitorState& monitor,
                  float volume, SoundEngine& sound);
// Starts the enabled elements looping and spreads the per-core sounds from
// left to right.
void StartSounds(SoundpackState& state, const MonitorState& monitor,
                 const ElementSwitches& play, SoundEngine& sound);

// Nearest integer, halves to the even neighbour; NaN gives 0 and values
// beyond the int32 range its nearest end.
int32_t RoundHalfEven(double value);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SONIFICATION_H_
