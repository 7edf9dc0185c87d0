// The tray icon's pop-up menu and the commands it carries out.
#ifndef VESKA_APP_TRAY_MENU_H_
#define VESKA_APP_TRAY_MENU_H_

#include <cstdint>

#include "app/app_state.h"

namespace veska {

// Menu command ids.
inline constexpr int32_t kMenuLoadSoundpack = 0;
inline constexpr int32_t kMenuExit = 1;
inline constexpr int32_t kMenuVolume100 = 2;
inline constexpr int32_t kMenuVolume75 = 3;
inline constexpr int32_t kMenuVolume50 = 4;
inline constexpr int32_t kMenuVolume25 = 5;
inline constexpr int32_t kMenuVolume10 = 6;
inline constexpr int32_t kMenuCpu = 7;
inline constexpr int32_t kMenuRam = 8;
inline constexpr int32_t kMenuRefreshQuarter = 9;  // 9..15: refresh presets
inline constexpr int32_t kMenuRefresh10s = 15;
inline constexpr int32_t kMenuDisk = 16;
inline constexpr int32_t kMenuCustomVolume = 17;
inline constexpr int32_t kMenuNormalToggle = 18;
inline constexpr int32_t kMenuPushToPlay = 19;
inline constexpr int32_t kMenuStartAtLogin = 20;

// Builds the menu once, with its check marks from the current settings. The
// "Disk" item is there only when the soundpack had disk sounds by now.
void BuildTrayMenu(AppState& state);

// Carries out one menu command; the caller saves the settings afterwards.
// "Exit" and a cancelled soundpack choice end the process here.
void RunMenuCommand(AppState& state, int32_t id);

// Whether the command changes what "settings.ini" holds, so that the caller
// saves them; the start at login and the "Listen to" choice live outside it.
bool MenuCommandSavesSettings(int32_t id);

// "Load soundpack...": frees the current sounds, asks for a folder, loads it
// and starts it; ends the process when no folder is chosen.
void ReloadSoundpack(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_TRAY_MENU_H_
