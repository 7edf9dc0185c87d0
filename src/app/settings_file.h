// "settings.ini" in the working folder: the user's settings between runs.
#ifndef VESKA_APP_SETTINGS_FILE_H_
#define VESKA_APP_SETTINGS_FILE_H_

#include "app/app_state.h"

namespace veska {

inline constexpr const char* kSettingsFileName = "settings.ini";

// Reads the settings and loads the stored soundpack, or asks for one when
// there is no file or no stored folder (which may end the process).
void LoadSettings(AppState& state);

// Writes every setting; a file that cannot be created or written is reported
// and keeps its earlier content, and the settings stay in memory.
void SaveSettings(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_SETTINGS_FILE_H_
