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

// The rules the load follows, for tools that explain a pack to its author.

// Text after the last "." of a file name; empty without one, for a leading
// "." only, or when what follows could not be an extension.
std::string SoundFileExtension(const std::string& name);
// True for a name the loader builds element paths from ("cpu_a.ogg").
bool IsElementFileName(const std::string& name);
// True when the name, in any case, holds "disk": such a file gives the pack
// disk sounds.
bool NamesDiskSounds(const std::string& name);
// The names of the files in `folder`, sorted; sub-folders are left out.
std::vector<std::string> ListSoundpackFiles(const std::string& folder);
// Reads the pack's "prefs.ini" into `state`; false when it cannot be opened.
bool ReadSoundpackPrefs(SoundpackState& state, PreferencesStore& prefs,
                        const std::string& folder);

// One sound the load makes: the file (without the extension, "/cpu_a") and
// the key it is stored under ("cpua3"); `core` is the core it belongs to, -1
// for sounds not per core.
struct ElementFile {
  std::string file;
  std::string key;
  int core = -1;
};
// Every sound the load makes, in load order, for the pack settings and disk
// flag in `state` and `core_count` cores.
std::vector<ElementFile> ElementFiles(const SoundpackState& state,
                                      int core_count);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_LOADER_H_
