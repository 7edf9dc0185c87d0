// The one loop: three timers, the per-pass update, the release check, a wait
// for one event until the next timer is due, and the event's dispatch.
#ifndef VESKA_APP_MAIN_LOOP_H_
#define VESKA_APP_MAIN_LOOP_H_

#include <cstdint>
#include <string>

#include "app/app_state.h"

namespace veska {

// The shortest period a timer counts as when the loop decides how long to
// wait, in milliseconds: a hand-edited interval of 0 or less paces the loop
// at this instead of spinning it.
inline constexpr uint32_t kShortestTimerMs = 10;

// True when more than `interval` ms lie between `last` and `now`. The
// difference is unsigned, so a wrap of the 32-bit clock changes nothing.
bool TimerDue(uint32_t now, uint32_t last, int32_t interval);

// How long the pass that ends at `now` may wait for an event: until the
// nearest of the tooltip, sample, slide (unless SlidesSkipped) and (while
// "Push To Play" is held) push-release deadlines, 0 when one is already due.
uint32_t EventWaitMs(const AppState& state, uint32_t now);

// "VESKA - AVG CPU: 12% - RAM: 48% - Disk: 3".
std::string TooltipText(const AppState& state);

// One pass of the loop, for the endless loop and for tests.
void RunMainLoopPass(AppState& state);
[[noreturn]] void RunMainLoop(AppState& state);

}  // namespace veska

#endif  // VESKA_APP_MAIN_LOOP_H_
