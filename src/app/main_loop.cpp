#include "app/main_loop.h"

#include <algorithm>

#include "app/hotkey.h"
#include "app/listen_to.h"
#include "app/resource_items.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "app/tray_menu.h"
#include "monitor/load_sampling.h"
#include "shell/shell_services.h"
#include "soundpack/sonification.h"

namespace veska {

bool TimerDue(uint32_t now, uint32_t last, int32_t interval) {
  const uint32_t elapsed = now - last;
  return static_cast<int64_t>(elapsed) > static_cast<int64_t>(interval);
}

namespace {

// How often a timer with `interval` fires while nothing holds the loop up.
int64_t TimerPeriod(int32_t interval) {
  return std::max<int64_t>(int64_t{interval} + 1, int64_t{kShortestTimerMs});
}

// Milliseconds from `now` until TimerDue holds, at least kShortestTimerMs
// after `last`; negative when overdue.
int64_t MsUntilDue(uint32_t now, uint32_t last, int32_t interval) {
  return TimerPeriod(interval) - int64_t{now - last};
}

// The ticks a wait left out would have fired on the grid of the slide
// timer and moved nothing but ended the slides. Doing that now and moving
// the stamp to the last of them keeps the grid's phase, so a level that
// starts to move steps at the grid point it always did, not at once.
void CatchUpSkippedSlides(AppState& state, uint32_t now) {
  const auto period =
      static_cast<uint32_t>(TimerPeriod(state.soundpack.SlideInterval));
  const uint32_t elapsed = now - state.LastSlideTime;
  if (elapsed <= period) return;  // a tick on `now` is still to fire
  state.LastSlideTime += (elapsed - 1) / period * period;
  SlideLevels(state.soundpack, state.monitor);
}

}  // namespace

uint32_t EventWaitMs(const AppState& state, uint32_t now) {
  int64_t wait = MsUntilDue(now, state.LastTooltipTime, state.TooltipInterval);
  wait =
      std::min(wait, MsUntilDue(now, state.LastSampleTime, state.RefreshTime));
  if (!state.SlidesSkipped) {
    wait = std::min(wait, MsUntilDue(now, state.LastSlideTime,
                                     state.soundpack.SlideInterval));
  }
  if (state.HotkeyActive == 1 && state.KeyboardMode == 1) {
    wait = std::min(
        wait, MsUntilDue(now, state.LastHotkeyTime, state.PushReleaseDelay));
  }
  return static_cast<uint32_t>(std::clamp<int64_t>(wait, 0, INT32_MAX));
}

std::string TooltipText(const AppState& state) {
  // The disk number ends the text without a percent sign.
  const MonitorState& monitor = state.monitor;
  return ListenTooltipHead(state) +
         " - AVG CPU: " + std::to_string(monitor.CpuAverage) +
         "% - RAM: " + std::to_string(RoundHalfEven(monitor.RAMLoad)) +
         "% - Disk: " + std::to_string(RoundHalfEven(monitor.DiskLoad)) +
         ResourceTooltipText(state);
}

void RunMainLoopPass(AppState& state) {
  ShellServices& shell = *state.services.shell;

  if (TimerDue(shell.ElapsedMs(), state.LastTooltipTime,
               state.TooltipInterval)) {
    FollowListenedSource(state);
    shell.SetTrayTooltip(1, TooltipText(state));
    state.LastTooltipTime = shell.ElapsedMs();
  }

  // Timers restamp with the time of firing, so a long pass (a dialog, a
  // menu held open) is never caught up with a burst.
  uint32_t now = shell.ElapsedMs();
  if (TimerDue(now, state.LastSampleTime, state.RefreshTime)) {
    state.LastSampleTime = now;
    CounterLibrary& counters = *state.services.counters;
    SampleRAMLoad(state.monitor, counters);
    SampleCpuLoads(state.monitor, counters);
    if (state.soundpack.HasDiskSounds == 1) {
      SampleDiskLoad(state.monitor, counters);
    }
    SampleResources(state);
  }

  UpdateTargets(state.soundpack, state.monitor);

  now = shell.ElapsedMs();
  if (TimerDue(now, state.LastSlideTime, state.soundpack.SlideInterval)) {
    state.LastSlideTime = now;
    UpdateSounds(state.soundpack, state.monitor, state.Volume,
                 *state.services.sound);
    state.SoundsPending = false;
  }

  if (state.HotkeyActive == 1 && state.KeyboardMode == 1) {
    CheckPushRelease(state);
    // The sounds were stopped; the next tick sets them as it always did.
    if (state.HotkeyActive == 0) state.SoundsPending = true;
  }

  // At rest the loop sleeps through slide ticks that would change nothing.
  state.SlidesSkipped =
      !state.SoundsPending && LevelsAtRest(state.soundpack, state.monitor);
  state.EventCode = shell.WaitEvent(EventWaitMs(state, shell.ElapsedMs()));
  if (state.SlidesSkipped) CatchUpSkippedSlides(state, shell.ElapsedMs());
  if (state.EventCode != kEventTimeout) state.SoundsPending = true;
  switch (state.EventCode) {
    case kEventHotkey: {
      const std::intptr_t id = shell.EventParam();
      state.HotkeyId = static_cast<int32_t>(id);
      if (id == 0) OnHotkey(state);
      break;
    }
    case kEventTray:
      shell.ShowPopupMenu();
      break;
    case kEventMenu: {
      const int32_t id = shell.EventMenuId();
      RunMenuCommand(state, id);
      if (MenuCommandSavesSettings(id)) SaveSettings(state);
      break;
    }
    case kEventQuit:
      ShutDown(state);
    default:
      break;
  }
}

void RunMainLoop(AppState& state) {
  for (;;) RunMainLoopPass(state);
}

}  // namespace veska
