// Reading a soundpack folder into the sound table.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
#define VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_

#include <string>
#include <vector>

#include "app/app_state.h"

namespace veska {

// Loads the pack in `folder`. A folder without a readable "prefs.ini" is
// refused with a message, and the user is asked for another.
void LoadSoundpack(AppState& state, const std::string& folder);

// The load itself: false, with nothing read, loaded or shown, when `folder`
// has no readable "prefs.ini".
bool LoadSoundpackIfValid(AppState& state, const std::string& folder);

// The extension a folder's sound files are loaded with, from the names of its
// files: the last element file's (in name order), else the last file's that
// is not ".ini"; `previous` when no file gives one.
std::string ChooseSoundExtension(std::vector<std::string> file_names,
                                 const std::string& previous);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
