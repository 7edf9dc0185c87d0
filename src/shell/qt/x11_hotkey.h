// One global hotkey grabbed on the X root window through a connection of its
// own, so that the toolkit's connection never sees or steals its events.
#ifndef VESKA_SHELL_QT_X11_HOTKEY_H_
#define VESKA_SHELL_QT_X11_HOTKEY_H_

#include <cstdint>
#include <vector>

struct _XDisplay;

namespace veska {

class X11Hotkey {
 public:
  X11Hotkey() = default;
  ~X11Hotkey();
  X11Hotkey(const X11Hotkey&) = delete;
  X11Hotkey& operator=(const X11Hotkey&) = delete;

  // Connects to the display named by DISPLAY. False without one.
  bool Open();
  // The connection's file descriptor, readable when events arrive; -1 when
  // not connected.
  int Fd() const;

  // Grabs the key with exactly these modifiers, whatever the state of Num
  // Lock and Caps Lock, replacing an earlier grab. False, with nothing
  // grabbed, when the key is unknown or another client holds the keys.
  bool Grab(int32_t modifiers, int32_t virtual_key);
  void Release();

  // Reads every event that has arrived and returns the presses of the
  // hotkey among them, in order: true marks the display's auto-repeat of
  // keys still held, false a new press.
  std::vector<bool> TakePresses();

 private:
  _XDisplay* display_ = nullptr;
  unsigned int num_lock_mask_ = 0;
  unsigned int keycode_ = 0;
  unsigned int modifiers_ = 0;
  bool grabbed_ = false;
  bool held_ = false;  // pressed, and not released since
};

}  // namespace veska

#endif  // VESKA_SHELL_QT_X11_HOTKEY_H_
