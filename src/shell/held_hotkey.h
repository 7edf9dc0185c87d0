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

  // A hotkey message from the system, posted at `posted_ms` and seen at
  // `now_ms`, and whether the keys are down at that moment. Returns the
  // events to deliver (0 or 1): the repeats of a hold that come after its
  // end was seen deliver none.
  int OnMessage(uint32_t now_ms, bool keys_down, uint32_t posted_ms);
  int OnMessage(uint32_t now_ms, bool keys_down) {
    return OnMessage(now_ms, keys_down, now_ms);
  }
  // Between messages, with the keys' state now: the events due (0 or 1).
  int Poll(uint32_t now_ms, bool keys_down);
  // While held, milliseconds until the next repeat is due (0 when due).
  uint32_t MsUntilRepeat(uint32_t now_ms) const;
  bool held() const { return held_; }

 private:
  uint32_t delay_ms_;
  uint32_t interval_ms_;
  // A message posted this soon after the end of a hold was seen still
  // belongs to it (the message clock counts coarser than ours); after the
  // limit none can be on its way any more.
  static constexpr int32_t kTailMs = 20;
  static constexpr int32_t kTailLimitMs = 1000;

  void EndHold(uint32_t now_ms);

  bool held_ = false;
  bool ended_ = false;  // a hold ended at ended_ms_
  uint32_t ended_ms_ = 0;
  uint32_t seen_down_ms_ = 0;  // while held, when the keys were last down
  uint32_t next_repeat_ms_ = 0;
};

// The keyboard's repeat settings as the system states them: delay 0..3 for
// 250..1000 ms, speed 0..31 for about 2.5..30 repeats a second.
uint32_t KeyboardRepeatDelayMs(uint32_t delay_setting);
uint32_t KeyboardRepeatIntervalMs(uint32_t speed_setting);

}  // namespace veska

#endif  // VESKA_SHELL_HELD_HOTKEY_H_
