#include "shell/held_hotkey.h"

#include <algorithm>

namespace veska {
namespace {

// Time `a` is at or after `b` on a clock that wraps.
bool Reached(uint32_t a, uint32_t b) {
  return static_cast<int32_t>(a - b) >= 0;
}

}  // namespace

HeldHotkey::HeldHotkey(uint32_t repeat_delay_ms, uint32_t repeat_interval_ms)
    : delay_ms_(repeat_delay_ms),
      interval_ms_(std::max<uint32_t>(repeat_interval_ms, 1)) {}

int HeldHotkey::OnMessage(uint32_t now_ms, bool keys_down, uint32_t posted_ms) {
  if (held_) {
    if (keys_down) {
      seen_down_ms_ = now_ms;
      return 0;  // the system repeating a held hotkey
    }
    // Up by now, but a new press would need a release and a press since
    // the last look at the keys: this repeat merely came late. Unless the
    // loop was held up (a modal dialog) long enough for both.
    EndHold(now_ms);
    if (static_cast<int32_t>(posted_ms - seen_down_ms_) < kTailLimitMs) {
      return 0;
    }
  } else if (ended_ && static_cast<int32_t>(posted_ms - ended_ms_) < kTailMs &&
             static_cast<int32_t>(now_ms - ended_ms_) < kTailLimitMs) {
    return 0;  // posted before the end of the hold was seen: late repeats
  }
  ended_ = false;
  held_ = keys_down;
  seen_down_ms_ = now_ms;
  next_repeat_ms_ = now_ms + delay_ms_;
  return 1;
}

int HeldHotkey::Poll(uint32_t now_ms, bool keys_down) {
  if (!held_) return 0;
  if (!keys_down) {
    EndHold(now_ms);
    return 0;
  }
  seen_down_ms_ = now_ms;
  if (!Reached(now_ms, next_repeat_ms_)) return 0;
  // After a long stall (a modal dialog) the repeats resume from now rather
  // than catching up one by one.
  next_repeat_ms_ = now_ms + interval_ms_;
  return 1;
}

void HeldHotkey::EndHold(uint32_t now_ms) {
  held_ = false;
  ended_ = true;
  ended_ms_ = now_ms;
}

uint32_t HeldHotkey::MsUntilRepeat(uint32_t now_ms) const {
  if (!held_ || Reached(now_ms, next_repeat_ms_)) return 0;
  return next_repeat_ms_ - now_ms;
}

uint32_t KeyboardRepeatDelayMs(uint32_t delay_setting) {
  return 250 * (std::min<uint32_t>(delay_setting, 3) + 1);
}

uint32_t KeyboardRepeatIntervalMs(uint32_t speed_setting) {
  // Linear in repeats per second from 2.5 at 0 to 30 at 31.
  const double per_second =
      2.5 + 27.5 * std::min<uint32_t>(speed_setting, 31) / 31.0;
  return static_cast<uint32_t>(1000.0 / per_second + 0.5);
}

}  // namespace veska
