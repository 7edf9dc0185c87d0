// Reading a soundpack folder into the sound table.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
#define VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_

#include <string>

#include "app/app_state.h"

namespace veska {

void LoadSoundpack(AppState& state, const std::string& folder);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
