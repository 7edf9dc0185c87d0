// Levels that glide towards the loads, and the sounds they drive.
#ifndef VESKA_SOUNDPACK_SONIFICATION_H_
#define VESKA_SOUNDPACK_SONIFICATION_H_

#include "app/app_state.h"

namespace veska {

void UpdateTargets(AppState& state);
void UpdateSounds(AppState& state);
void StartSounds(AppState& state);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SONIFICATION_H_
