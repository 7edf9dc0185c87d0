#include "shell/qt/virtual_keys.h"

#include <gtest/gtest.h>

// Xlib after the test framework: its macros (None, Bool) clash with it.
#include <X11/X.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "shell/shell_services.h"

namespace veska {
namespace {

TEST(VirtualKeysTest, ContiguousRangesMapToTheirKeysymsAndStopAtTheirEnds) {
  EXPECT_EQ(VirtualKeyToKeysym('A'), XK_a);
  EXPECT_EQ(VirtualKeyToKeysym('M'), XK_m);
  EXPECT_EQ(VirtualKeyToKeysym('Z'), XK_z);
  EXPECT_EQ(VirtualKeyToKeysym('0'), XK_0);
  EXPECT_EQ(VirtualKeyToKeysym('9'), XK_9);
  EXPECT_EQ(VirtualKeyToKeysym(0x70), XK_F1);
  EXPECT_EQ(VirtualKeyToKeysym(122), XK_F11);  // the default hotkey
  EXPECT_EQ(VirtualKeyToKeysym(0x7B), XK_F12);
  EXPECT_EQ(VirtualKeyToKeysym(0x87), XK_F24);
  EXPECT_EQ(VirtualKeyToKeysym(0x60), XK_KP_0);
  EXPECT_EQ(VirtualKeyToKeysym(0x69), XK_KP_9);
  // Lower-case ASCII codes are not letters: 0x61 is the keypad's 1.
  EXPECT_EQ(VirtualKeyToKeysym('a'), XK_KP_1);
  EXPECT_EQ(VirtualKeyToKeysym(0x88), static_cast<unsigned long>(NoSymbol));
}

TEST(VirtualKeysTest, NamedKeysSpotChecks) {
  // Page up/down and print screen carry other names on the other platform.
  EXPECT_EQ(VirtualKeyToKeysym(0x21), XK_Page_Up);
  EXPECT_EQ(VirtualKeyToKeysym(0x22), XK_Page_Down);
  EXPECT_EQ(VirtualKeyToKeysym(0x2C), XK_Print);
  EXPECT_EQ(VirtualKeyToKeysym(0x6F), XK_KP_Divide);  // end of the keypad
  EXPECT_EQ(VirtualKeyToKeysym(0xBB), XK_equal);      // the "=+" key
  EXPECT_EQ(VirtualKeyToKeysym(0xDE), XK_apostrophe);
}

TEST(VirtualKeysTest, KeysWithoutAnXKeyAreRefused) {
  // Modifier keys alone, mouse buttons, out-of-range and negative codes.
  for (int32_t code :
       {0x00, 0x01, 0x10, 0x11, 0x12, 0x5B, 0x5C, 0xFF, 0x100, -1, -122}) {
    EXPECT_EQ(VirtualKeyToKeysym(code), static_cast<unsigned long>(NoSymbol))
        << "code " << code;
  }
}

TEST(VirtualKeysTest, EveryTranslatedCodeIsARealKeysym) {
  // A typo in the table would give a number the keymap never holds.
  int translated = 0;
  for (int32_t code = 0; code < 256; ++code) {
    const unsigned long keysym = VirtualKeyToKeysym(code);
    if (keysym == NoSymbol) continue;
    ++translated;
    EXPECT_NE(XKeysymToString(keysym), nullptr) << "code " << code;
  }
  EXPECT_GT(translated, 26 + 10 + 24 + 16 + 4);
}

TEST(VirtualKeysTest, ModifierMaskBitsMapOneToOneAndOthersAreIgnored) {
  EXPECT_EQ(HotkeyModifiersToX(0), 0u);
  EXPECT_EQ(HotkeyModifiersToX(kModAlt), static_cast<unsigned>(Mod1Mask));
  EXPECT_EQ(HotkeyModifiersToX(kModControl),
            static_cast<unsigned>(ControlMask));
  EXPECT_EQ(HotkeyModifiersToX(kModShift), static_cast<unsigned>(ShiftMask));
  EXPECT_EQ(HotkeyModifiersToX(kModWin), static_cast<unsigned>(Mod4Mask));
  EXPECT_EQ(HotkeyModifiersToX(kModControl | kModShift),
            static_cast<unsigned>(ControlMask | ShiftMask));
  // 0x4000 asks the other platform not to repeat; it has no X meaning.
  EXPECT_EQ(HotkeyModifiersToX(0x4000 | 0x10 | kModAlt),
            static_cast<unsigned>(Mod1Mask));
}

}  // namespace
}  // namespace veska
