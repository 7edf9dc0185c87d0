// Levels that glide towards the loads, and the sounds they drive.
#ifndef VESKA_SOUNDPACK_SONIFICATION_H_
#define VESKA_SOUNDPACK_SONIFICATION_H_

#include <array>
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
  // The optional elements, by Resource.
  std::array<int32_t, kResourceCount> PlayResources{1, 1, 1, 1};
};

// Every main-loop pass: the CPU average, and new targets for the levels that
// have finished sliding.
void UpdateTargets(SoundpackState& state, MonitorState& monitor);
// True when the next slide tick, and every tick after it while the loads
// stay as they are, would move no level: each level in use sits on the
// target it slides to and on the one the next pass would give it. Such
// ticks only end the slides and set the sounds again as they are.
bool LevelsAtRest(const SoundpackState& state, const MonitorState& monitor);
// Each sliding level one unit nearer its target, a slide that has arrived
// ended: the part of a tick that does not touch the sounds.
void SlideLevels(SoundpackState& state, const MonitorState& monitor);
// Every SlideInterval: SlideLevels, then the volumes and frequencies that
// follow from the levels and `volume`.
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
