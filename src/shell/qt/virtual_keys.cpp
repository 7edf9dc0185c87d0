#include "shell/qt/virtual_keys.h"

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include "shell/shell_services.h"

namespace veska {
namespace {

struct NamedKey {
  int32_t virtual_key;
  unsigned long keysym;
};

// Keys outside the contiguous ranges handled in VirtualKeyToKeysym.
constexpr NamedKey kNamedKeys[] = {
    {0x03, XK_Break},                 // VK_CANCEL
    {0x08, XK_BackSpace},             // VK_BACK
    {0x09, XK_Tab},                   // VK_TAB
    {0x0C, XK_Clear},                 // VK_CLEAR
    {0x0D, XK_Return},                // VK_RETURN
    {0x13, XK_Pause},                 // VK_PAUSE
    {0x1B, XK_Escape},                // VK_ESCAPE
    {0x20, XK_space},                 // VK_SPACE
    {0x21, XK_Prior},                 // VK_PRIOR (page up)
    {0x22, XK_Next},                  // VK_NEXT (page down)
    {0x23, XK_End},                   // VK_END
    {0x24, XK_Home},                  // VK_HOME
    {0x25, XK_Left},                  // VK_LEFT
    {0x26, XK_Up},                    // VK_UP
    {0x27, XK_Right},                 // VK_RIGHT
    {0x28, XK_Down},                  // VK_DOWN
    {0x29, XK_Select},                // VK_SELECT
    {0x2A, XK_Print},                 // VK_PRINT
    {0x2B, XK_Execute},               // VK_EXECUTE
    {0x2C, XK_Print},                 // VK_SNAPSHOT (print screen)
    {0x2D, XK_Insert},                // VK_INSERT
    {0x2E, XK_Delete},                // VK_DELETE
    {0x2F, XK_Help},                  // VK_HELP
    {0x5D, XK_Menu},                  // VK_APPS
    {0x6A, XK_KP_Multiply},           // VK_MULTIPLY
    {0x6B, XK_KP_Add},                // VK_ADD
    {0x6C, XK_KP_Separator},          // VK_SEPARATOR
    {0x6D, XK_KP_Subtract},           // VK_SUBTRACT
    {0x6E, XK_KP_Decimal},            // VK_DECIMAL
    {0x6F, XK_KP_Divide},             // VK_DIVIDE
    {0x91, XK_Scroll_Lock},           // VK_SCROLL
    {0xAD, XF86XK_AudioMute},         // VK_VOLUME_MUTE
    {0xAE, XF86XK_AudioLowerVolume},  // VK_VOLUME_DOWN
    {0xAF, XF86XK_AudioRaiseVolume},  // VK_VOLUME_UP
    {0xB0, XF86XK_AudioNext},         // VK_MEDIA_NEXT_TRACK
    {0xB1, XF86XK_AudioPrev},         // VK_MEDIA_PREV_TRACK
    {0xB2, XF86XK_AudioStop},         // VK_MEDIA_STOP
    {0xB3, XF86XK_AudioPlay},         // VK_MEDIA_PLAY_PAUSE
    {0xBA, XK_semicolon},             // VK_OEM_1
    {0xBB, XK_equal},                 // VK_OEM_PLUS (the "=+" key)
    {0xBC, XK_comma},                 // VK_OEM_COMMA
    {0xBD, XK_minus},                 // VK_OEM_MINUS
    {0xBE, XK_period},                // VK_OEM_PERIOD
    {0xBF, XK_slash},                 // VK_OEM_2
    {0xC0, XK_grave},                 // VK_OEM_3
    {0xDB, XK_bracketleft},           // VK_OEM_4
    {0xDC, XK_backslash},             // VK_OEM_5
    {0xDD, XK_bracketright},          // VK_OEM_6
    {0xDE, XK_apostrophe},            // VK_OEM_7
    {0xE2, XK_less},                  // VK_OEM_102 (ISO key beside shift)
};

}  // namespace

unsigned long VirtualKeyToKeysym(int32_t virtual_key) {
  // Lower-case letter keysyms: the keymap lists those on the key's first level.
  if (virtual_key >= 'A' && virtual_key <= 'Z') {
    return XK_a + static_cast<unsigned long>(virtual_key - 'A');
  }
  if (virtual_key >= '0' && virtual_key <= '9') {
    return XK_0 + static_cast<unsigned long>(virtual_key - '0');
  }
  if (virtual_key >= 0x70 && virtual_key <= 0x87) {  // VK_F1 .. VK_F24
    return XK_F1 + static_cast<unsigned long>(virtual_key - 0x70);
  }
  if (virtual_key >= 0x60 && virtual_key <= 0x69) {  // VK_NUMPAD0 .. 9
    return XK_KP_0 + static_cast<unsigned long>(virtual_key - 0x60);
  }
  for (const NamedKey& key : kNamedKeys) {
    if (key.virtual_key == virtual_key) return key.keysym;
  }
  return NoSymbol;
}

unsigned int HotkeyModifiersToX(int32_t modifiers) {
  unsigned int mask = 0;
  if (modifiers & kModAlt) mask |= Mod1Mask;
  if (modifiers & kModControl) mask |= ControlMask;
  if (modifiers & kModShift) mask |= ShiftMask;
  if (modifiers & kModWin) mask |= Mod4Mask;
  return mask;
}

}  // namespace veska
