#include "app/runtime.h"

#include <cstdlib>

#include "prefs/preferences_store.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"

namespace veska {

void RuntimeShutdown(AppState& state) {
  Services& services = state.services;
  services.shell->RemoveTrayIcon(1);
  if (services.sound != nullptr) services.sound->Close();
  if (services.prefs != nullptr) services.prefs->ClosePreferences();
  services.shell->ExitProcess(0);
  std::abort();  // a binding whose exit returns is broken
}

}  // namespace veska
