#include "shell/held_hotkey.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace veska {
namespace {

// Events delivered by polling every 10 ms over [from, to) with the keys in
// the given state, as the main loop's waits do.
int PollEvery10Ms(HeldHotkey& hotkey, uint32_t from, uint32_t to, bool down) {
  int events = 0;
  for (uint32_t t = from; t != to; t += 10) events += hotkey.Poll(t, down);
  return events;
}

TEST(HeldHotkeyTest, AShortPressIsOnePressWhateverTheDisplayRepeats) {
  HeldHotkey hotkey(500, 33);
  // Seen after the keys came up: one press, nothing held.
  EXPECT_EQ(hotkey.OnMessage(1000, false), 1);
  EXPECT_FALSE(hotkey.held());
  EXPECT_EQ(PollEvery10Ms(hotkey, 1000, 3000, false), 0);

  // A late release makes the display repeat the key while it is still
  // down: those messages add nothing, and the keys come up before the
  // keyboard's own delay.
  EXPECT_EQ(hotkey.OnMessage(5000, true), 1);
  EXPECT_EQ(hotkey.OnMessage(5040, true), 0);
  EXPECT_EQ(hotkey.OnMessage(5080, true), 0);
  EXPECT_EQ(PollEvery10Ms(hotkey, 5000, 5490, true), 0);
  EXPECT_EQ(hotkey.Poll(5490, false), 0);
  EXPECT_FALSE(hotkey.held());
  EXPECT_EQ(PollEvery10Ms(hotkey, 5500, 7000, true), 0);

  // The next press counts again.
  EXPECT_EQ(hotkey.OnMessage(8000, false), 1);
}

TEST(HeldHotkeyTest, HeldKeysRepeatAtTheKeyboardsRateUntilReleased) {
  HeldHotkey hotkey(500, 40);
  ASSERT_EQ(hotkey.OnMessage(0, true), 1);
  EXPECT_EQ(hotkey.MsUntilRepeat(100), 400u);
  EXPECT_EQ(PollEvery10Ms(hotkey, 0, 500, true), 0);
  // From the delay on, one event every 40 ms, whatever the system sends.
  EXPECT_EQ(hotkey.Poll(500, true), 1);
  EXPECT_EQ(hotkey.OnMessage(520, true), 0);
  EXPECT_EQ(PollEvery10Ms(hotkey, 510, 1500, true), 24);
  // Never 500 ms without an event while held, so "Push To Play" stays on.
  EXPECT_EQ(hotkey.Poll(1500, false), 0);
  EXPECT_EQ(PollEvery10Ms(hotkey, 1510, 3000, true), 0);
  EXPECT_EQ(hotkey.MsUntilRepeat(3000), 0u);
}

// Under a display that repeats held keys itself, its last repeats may be
// handed on after the keys came up; each would count as a new press.
TEST(HeldHotkeyTest, RepeatsHandedOnAfterTheReleaseAreNoPresses) {
  HeldHotkey hotkey(1000, 33);
  ASSERT_EQ(hotkey.OnMessage(0, true, 0), 1);
  EXPECT_EQ(hotkey.OnMessage(700, true, 690), 0);
  // Seen with the keys up before any poll noticed: it only ends the hold.
  EXPECT_EQ(hotkey.OnMessage(1510, false, 1505), 0);
  EXPECT_FALSE(hotkey.held());
  EXPECT_EQ(PollEvery10Ms(hotkey, 1520, 2000, false), 0);

  // The poll noticed the release first; repeats posted before that, or
  // within the message clock's coarseness after, come to nothing.
  ASSERT_EQ(hotkey.OnMessage(3000, true, 3000), 1);
  EXPECT_EQ(hotkey.Poll(4000, true), 1);
  EXPECT_EQ(hotkey.Poll(4010, false), 0);
  EXPECT_EQ(hotkey.OnMessage(4015, false, 4005), 0);
  EXPECT_EQ(hotkey.OnMessage(4040, false, 4025), 0);
  // A press posted after that is one, even one quick after the release.
  EXPECT_EQ(hotkey.OnMessage(4100, false, 4060), 1);
  ASSERT_EQ(hotkey.OnMessage(6000, true, 5990), 1);
  EXPECT_EQ(hotkey.Poll(6100, false), 0);
  // Long after the end, any message is a press whatever its stamp says.
  EXPECT_EQ(hotkey.OnMessage(9000, false, 6000), 1);
  // Held when the loop stalled (a modal dialog), let go and pressed again
  // during the stall: the press is seen before the release, and counts.
  ASSERT_EQ(hotkey.OnMessage(10000, true, 10000), 1);
  EXPECT_EQ(hotkey.OnMessage(16000, false, 15000), 1);
  EXPECT_FALSE(hotkey.held());
}

TEST(HeldHotkeyTest, RepeatsResumeAfterAStallAndAcrossTheClocksWrap) {
  HeldHotkey hotkey(250, 100);
  const uint32_t start = 0xFFFFFF00u;  // 256 ms before the clock wraps
  ASSERT_EQ(hotkey.OnMessage(start, true), 1);
  EXPECT_EQ(hotkey.Poll(start + 200, true), 0);
  EXPECT_EQ(hotkey.Poll(start + 250, true), 1);
  // A modal dialog held the loop for five seconds: one event, not fifty.
  EXPECT_EQ(hotkey.Poll(start + 5250, true), 1);
  EXPECT_EQ(hotkey.Poll(start + 5300, true), 0);
  EXPECT_EQ(hotkey.Poll(start + 5350, true), 1);
}

TEST(HeldHotkeyTest, KeyboardSettingsGiveWindowsDelaysAndRates) {
  EXPECT_EQ(KeyboardRepeatDelayMs(0), 250u);
  EXPECT_EQ(KeyboardRepeatDelayMs(1), 500u);
  EXPECT_EQ(KeyboardRepeatDelayMs(3), 1000u);
  EXPECT_EQ(KeyboardRepeatDelayMs(99), 1000u);
  EXPECT_EQ(KeyboardRepeatIntervalMs(0), 400u);
  EXPECT_EQ(KeyboardRepeatIntervalMs(31), 33u);
  EXPECT_EQ(KeyboardRepeatIntervalMs(500), 33u);
}

}  // namespace
}  // namespace veska
