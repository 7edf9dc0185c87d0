// The one loop: three timers, the per-pass update, the release check, a short
// wait for one event and its dispatch.
#ifndef VESKA_APP_MAIN_LOOP_H_
#define VESKA_APP_MAIN_LOOP_H_

#include <cstdint>
#include <string>

#include "app/app_state.h"

namespace veska {

// How long one pass waits for an event, in milliseconds.
inline constexpr uint32_t kEventWaitMs = 10;

// True when more than `interval` ms lie between `last` and `now`. The
// difference is unsigned, so a wrap of the 32-bit clock changes nothing.
bool TimerDue(uint32_t now, uint32_t last, int32_t interval);

// "VESKA - AVG CPU: 12% - RAM: 48% - Disk: 3".
std::string TooltipText(const AppState& state);

// One pass of the loop, for the endless loop and for tests.
void RunMainLoopPass(AppState& state);
[[noreturn]] void RunMainLoop(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_MAIN_LOOP_H_
