// One instance per user and display on a Linux desktop: an exclusive lock on
// a file named after the display, in the user's runtime folder. The lock
// goes with the process however it ends.
#ifndef VESKA_SHELL_QT_SESSION_LOCK_H_
#define VESKA_SHELL_QT_SESSION_LOCK_H_

#include <string>

namespace veska {

// The lock file for `display` ("x11::1" for DISPLAY=:1.0, say): in
// `runtime_folder` when that is absolute, else in /tmp under the user's id.
// The screen number is left out (one server, one session) and every byte a
// file name should not hold is spelled out.
std::string SessionLockPath(const std::string& runtime_folder, unsigned user,
                            const std::string& display);

// The display part of DISPLAY without its screen: ":1.0" and "unix:1" are
// ":1".
std::string X11DisplayName(const std::string& display);

class SessionLock {
 public:
  enum class Claim { kClaimed, kTaken, kUnknown };

  SessionLock() = default;
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  // kTaken when another process holds the lock; kUnknown when the file
  // cannot be made or is not the user's own.
  Claim Take(const std::string& path);

 private:
  int fd_ = -1;
};

}  // namespace veska

#endif  // VESKA_SHELL_QT_SESSION_LOCK_H_
