// Levels that glide towards the loads, and the sounds they drive.
#ifndef VESKA_SOUNDPACK_SONIFICATION_H_
#define VESKA_SOUNDPACK_SONIFICATION_H_

#include <cstdint>

#include "app/app_state.h"

namespace veska {

// Every main-loop pass: the CPU average, and new targets for the levels that
// have finished sliding.
void UpdateTargets(AppState& state);
// Every SlideInterval: each sliding level one unit nearer its target, then
// the volumes and frequencies that follow from the levels.
void UpdateSounds(AppState& state);
// Starts the enabled elements looping and spreads the per-core sounds from
// left to right.
void StartSounds(AppState& state);

// Nearest integer, halves to the even neighbour; NaN gives 0 and values
// beyond the int32 range its nearest end.
int32_t RoundHalfEven(double value);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SONIFICATION_H_
