// Choosing a soundpack folder, or ending the program when none is chosen.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
#define VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_

#include "app/app_state.h"

namespace veska {

void SelectSoundpack(AppState& state);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
