// Counts hotkey presses the way a Windows keyboard makes them, whatever the
// system underneath repeats: one event when the keys go down, then, while a
// test of the keys says they are still held, one event per repeat interval
// after the repeat delay. The system's own repeats of a held hotkey are
// dropped, so a short press is one press even when a late key release makes
// the display repeat the key, and "Push To Play" hears the keys held at the
// keyboard's rate rather than the display's.
#ifndef VESKA_SHELL_HELD_HOTKEY_H_
#define VESKA_SHELL_HELD_HOTKEY_H_

#include <cstdint>

namespace veska {

class HeldHotkey {
 public:
  HeldHotkey(uint32_t repeat_delay_ms, uint32_t repeat_interval_ms);

  // A hotkey message from the system, seen at `now_ms`, and whether the
  // keys are down at that moment. Returns the events to deliver (0 or 1).
  int OnMessage(uint32_t now_ms, bool keys_down);
  // Between messages, with the keys' state now: the events due (0 or 1).
  int Poll(uint32_t now_ms, bool keys_down);
  // While held, milliseconds until the next repeat is due (0 when due).
  uint32_t MsUntilRepeat(uint32_t now_ms) const;
  bool held() const { return held_; }

 private:
  uint32_t delay_ms_;
  uint32_t interval_ms_;
  bool held_ = false;
  uint32_t next_repeat_ms_ = 0;
};

// The keyboard's repeat settings as the system states them: delay 0..3 for
// 250..1000 ms, speed 0..31 for about 2.5..30 repeats a second.
uint32_t KeyboardRepeatDelayMs(uint32_t delay_setting);
uint32_t KeyboardRepeatIntervalMs(uint32_t speed_setting);

}  // namespace veska

#endif  // VESKA_SHELL_HELD_HOTKEY_H_
