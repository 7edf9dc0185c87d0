// The application owns the user's settings (kept in "settings.ini"), the
// timers of the main loop, the hotkey's state, the menu's typed input and the
// tray image. It needs every subsystem and every binding, and it alone ends
// the program.
#ifndef VESKA_APP_APP_CORE_H_
#define VESKA_APP_APP_CORE_H_

#include <array>
#include <cstdint>
#include <string>

#include "soundpack/sonification.h"

namespace veska {

// Members start at the values start-up gives them; the times are set by
// start-up itself.
struct AppCore {
  // Settings.
  float Volume = 0.1f;
  int32_t RefreshTime = 500;
  int32_t PlayCPU = 1;
  int32_t PlayRAM = 1;
  int32_t PlayDisk = 1;
  // Network, GPU, temperature, battery (by Resource).
  std::array<int32_t, kResourceCount> PlayResources{1, 1, 1, 1};
  int32_t KeyboardMode = 1;
  int32_t KeyboardModifiers = 6;
  int32_t KeyboardKey = 122;
  std::string Path;

  // Timers and the last event.
  int32_t TooltipInterval = 5000;
  uint32_t LastTooltipTime = 0;
  uint32_t LastSampleTime = 0;
  uint32_t LastSlideTime = 0;
  int32_t EventCode = 0;
  // Something besides the levels (an event, a push-to-play release, the
  // start) changed what the next slide tick sets; the tick clears it.
  bool SoundsPending = true;
  // The last event wait left the slide timer out: its ticks would have
  // changed nothing.
  bool SlidesSkipped = false;

  // Hotkey.
  int32_t HotkeyId = 0;
  int32_t HotkeyActive = 0;
  int32_t Muted = 0;
  uint32_t LastHotkeyTime = 0;
  int32_t PushReleaseDelay = 500;

  // Menu input and the tray image.
  std::string VolumeInput;
  int32_t CoreIndex = 0;
  uintptr_t TrayImage = 0;

  // The optional resources the sensors were last prepared for.
  std::array<bool, kResourceCount> SensorsPrepared{};

  ElementSwitches Switches() const {
    return {PlayCPU, PlayRAM, PlayDisk, PlayResources};
  }
};

}  // namespace veska

#endif  // VESKA_APP_APP_CORE_H_
