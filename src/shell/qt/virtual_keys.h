// Translation of the program's hotkey description (a modifier mask and a
// Windows virtual-key code, as stored in "settings.ini") to X11 terms. Pure
// functions: no display is needed to call them.
#ifndef VESKA_SHELL_QT_VIRTUAL_KEYS_H_
#define VESKA_SHELL_QT_VIRTUAL_KEYS_H_

#include <cstdint>

namespace veska {

// The X keysym of a virtual-key code; 0 (NoSymbol) when the key has none.
unsigned long VirtualKeyToKeysym(int32_t virtual_key);

// The X modifier state bits for kModAlt | kModControl | kModShift | kModWin.
// Other bits of the mask are ignored.
unsigned int HotkeyModifiersToX(int32_t modifiers);

}  // namespace veska

#endif  // VESKA_SHELL_QT_VIRTUAL_KEYS_H_
