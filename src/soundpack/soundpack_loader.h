// Reading a soundpack folder into the sound table.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
#define VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_

#include <string>
#include <vector>

#include "monitor/monitor_state.h"
#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/soundpack_state.h"

namespace veska {

// What loading and choosing a soundpack use.
struct SoundpackServices {
  SoundEngine& sound;
  PreferencesStore& prefs;
  ShellServices& shell;
};

// How asking for a soundpack ended. A cancelled choice leaves the program
// without sounds; the application tells the user and ends it.
enum class SoundpackChoice { kChosen, kCancelled };

// Loads the pack in `path`. A folder without a readable "prefs.ini" is
// refused with a message, and the user is asked for another, which replaces
// `path`.
[[nodiscard]] SoundpackChoice LoadSoundpack(SoundpackState& state,
                                            const MonitorState& monitor,
                                            const SoundpackServices& services,
                                            std::string& path);

// The load itself: false, with nothing read, loaded or shown, when `folder`
// has no readable "prefs.ini".
bool LoadSoundpackIfValid(SoundpackState& state, const MonitorState& monitor,
                          const SoundpackServices& services,
                          const std::string& folder);

// The extension a folder's sound files are loaded with, from the names of its
// files: the last element file's (in name order), else the last file's that
// is not ".ini"; `previous` when no file gives one.
std::string ChooseSoundExtension(std::vector<std::string> file_names,
                                 const std::string& previous);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
