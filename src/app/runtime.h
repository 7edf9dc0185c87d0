// The end of the process shared by every way out.
#ifndef VESKA_APP_RUNTIME_H_
#define VESKA_APP_RUNTIME_H_

#include "app/app_state.h"

namespace veska {

// Removes the tray icon, closes the sound engine and any open preferences
// file, and ends the process with exit code 0.
[[noreturn]] void RuntimeShutdown(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_RUNTIME_H_
