// Choosing a soundpack folder.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
#define VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_

#include <string>

#include "soundpack/soundpack_loader.h"

namespace veska {

// Asks for a folder until a valid soundpack is chosen and loaded, or none is
// chosen. Each answer is written to `path`, so a cancelled choice leaves it
// empty.
[[nodiscard]] SoundpackChoice SelectSoundpack(SoundpackState& state,
                                              const MonitorState& monitor,
                                              const SoundpackServices& services,
                                              std::string& path);

// Where the folder requester starts: the "packs" folder under `current`.
std::string SoundpackStartFolder(const std::string& current);

// The message for a folder that has no readable "prefs.ini".
void ShowInvalidSoundpackMessage(ShellServices& shell);

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_SELECTION_H_
