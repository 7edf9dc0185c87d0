#include "shell/qt/x11_hotkey.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <vector>

#include "shell/qt/virtual_keys.h"

namespace veska {
namespace {

// Set by GrabErrorHandler while a grab is being checked. Only the program
// thread talks to X, so a plain flag suffices.
bool grab_failed = false;

int GrabErrorHandler(Display*, XErrorEvent*) {
  grab_failed = true;  // BadAccess: the keys belong to another client.
  return 0;
}

unsigned int FindNumLockMask(Display* display) {
  const KeyCode num_lock = XKeysymToKeycode(display, XK_Num_Lock);
  XModifierKeymap* map = XGetModifierMapping(display);
  if (map == nullptr) return 0;
  unsigned int mask = 0;
  for (int modifier = 0; modifier < 8 && num_lock != 0; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      if (map->modifiermap[modifier * map->max_keypermod + i] == num_lock) {
        mask = 1u << modifier;
      }
    }
  }
  XFreeModifiermap(map);
  return mask;
}

std::vector<unsigned int> LockVariants(unsigned int num_lock_mask) {
  std::vector<unsigned int> variants = {0, LockMask};
  if (num_lock_mask != 0) {
    variants.push_back(num_lock_mask);
    variants.push_back(num_lock_mask | LockMask);
  }
  return variants;
}

// The release half of a display's auto-repeat: the press of the same key
// at the same moment is already queued behind it.
bool RepeatFollows(Display* display, const XKeyEvent& release) {
  if (XEventsQueued(display, QueuedAfterReading) == 0) return false;
  XEvent next;
  XPeekEvent(display, &next);
  return next.type == KeyPress && next.xkey.keycode == release.keycode &&
         next.xkey.time == release.time;
}

}  // namespace

X11Hotkey::~X11Hotkey() {
  if (display_ != nullptr) {
    Release();
    XCloseDisplay(display_);
  }
}

bool X11Hotkey::Open() {
  if (display_ != nullptr) return true;
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) return false;
  // Held keys then repeat as presses alone, without a release before each,
  // so that a release means the keys came up. Where the server cannot, a
  // release paired with a press of the same moment is taken as a repeat.
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(display_, True, &detectable);
  num_lock_mask_ = FindNumLockMask(display_);
  return true;
}

int X11Hotkey::Fd() const {
  return display_ != nullptr ? ConnectionNumber(display_) : -1;
}

bool X11Hotkey::Grab(int32_t modifiers, int32_t virtual_key) {
  if (display_ == nullptr) return false;
  Release();
  const KeySym keysym = VirtualKeyToKeysym(virtual_key);
  if (keysym == NoSymbol) return false;
  const KeyCode keycode = XKeysymToKeycode(display_, keysym);
  if (keycode == 0) return false;
  const unsigned int mask = HotkeyModifiersToX(modifiers);
  const Window root = DefaultRootWindow(display_);

  XSync(display_, False);  // errors of earlier requests are not ours
  grab_failed = false;
  XErrorHandler previous = XSetErrorHandler(GrabErrorHandler);
  for (unsigned int lock : LockVariants(num_lock_mask_)) {
    XGrabKey(display_, keycode, mask | lock, root, False, GrabModeAsync,
             GrabModeAsync);
  }
  XSync(display_, False);
  const bool failed = grab_failed;
  if (failed) {
    // Drop the variants that did succeed, so nothing half-grabbed remains.
    for (unsigned int lock : LockVariants(num_lock_mask_)) {
      XUngrabKey(display_, keycode, mask | lock, root);
    }
    XSync(display_, False);
  }
  XSetErrorHandler(previous);
  if (failed) return false;

  keycode_ = keycode;
  modifiers_ = mask;
  grabbed_ = true;
  return true;
}

void X11Hotkey::Release() {
  if (display_ == nullptr || !grabbed_) return;
  const Window root = DefaultRootWindow(display_);
  for (unsigned int lock : LockVariants(num_lock_mask_)) {
    XUngrabKey(display_, keycode_, modifiers_ | lock, root);
  }
  XSync(display_, False);
  grabbed_ = false;
  held_ = false;
}

std::vector<bool> X11Hotkey::TakePresses() {
  std::vector<bool> presses;
  if (display_ == nullptr) return presses;
  const unsigned int ignored = LockMask | num_lock_mask_;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (!grabbed_ || (event.type != KeyPress && event.type != KeyRelease) ||
        event.xkey.keycode != keycode_) {
      continue;
    }
    if (event.type == KeyRelease) {
      held_ = held_ && RepeatFollows(display_, event.xkey);
      continue;
    }
    // While the keys are held the keyboard is grabbed by us, so presses of
    // other keys arrive too; only the hotkey itself counts.
    if ((event.xkey.state & ~ignored & 0xFF) == modifiers_) {
      presses.push_back(held_);
      held_ = true;
    }
  }
  return presses;
}

}  // namespace veska
