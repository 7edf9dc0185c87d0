// Everything the program keeps: the application's own state, the state each
// subsystem owns, and the bindings chosen in main() (or by a test). A test
// makes a fresh one.
#ifndef VESKA_APP_APP_STATE_H_
#define VESKA_APP_APP_STATE_H_

#include "app/app_core.h"
#include "app/listen_choices.h"
#include "monitor/counter_library.h"
#include "monitor/monitor_state.h"
#include "monitor/resource_sensors.h"
#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/soundpack_loader.h"
#include "soundpack/soundpack_state.h"

namespace veska {

struct Services {
  CounterLibrary* counters = nullptr;
  SoundEngine* sound = nullptr;
  ShellServices* shell = nullptr;
  PreferencesStore* prefs = nullptr;
  // Null where the platform reads none of the optional resources.
  ResourceSensors* sensors = nullptr;

  SoundpackServices ForSoundpack() const { return {*sound, *prefs, *shell}; }
};

// The application's own fields read directly (state.Volume); each
// subsystem's under its name (state.monitor.CpuAverage).
struct AppState : AppCore {
  Services services;
  MonitorState monitor;
  SoundpackState soundpack;
  ListenState listen;
};

}  // namespace veska

#endif  // VESKA_APP_APP_STATE_H_
