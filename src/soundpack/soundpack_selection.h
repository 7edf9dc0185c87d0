// Choosing a soundpack folder, or ending the program when none is chosen.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
#define VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_

#include <string>

#include "app/app_state.h"

namespace veska {

// Asks for a folder until a valid soundpack is chosen and loaded; ends the
// process (without saving settings) when the user chooses none.
void SelectSoundpack(AppState& state);

// Where the folder requester starts: the "packs" folder under `current`.
std::string SoundpackStartFolder(const std::string& current);

// The message for a folder that has no readable "prefs.ini".
void ShowInvalidSoundpackMessage(AppState& state);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
