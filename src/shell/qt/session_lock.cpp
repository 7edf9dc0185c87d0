#include "shell/qt/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace veska {

std::string X11DisplayName(const std::string& display) {
  std::string name = display;
  const std::size_t colon = name.rfind(':');
  if (colon == std::string::npos) return name;
  const std::size_t dot = name.find('.', colon);
  if (dot != std::string::npos) name.erase(dot);
  if (name.compare(0, colon, "unix") == 0) name.erase(0, colon);
  return name;
}

std::string SessionLockPath(const std::string& runtime_folder, unsigned user,
                            const std::string& display) {
  std::string name;
  for (unsigned char c : display) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.') {
      name += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      name += hex;
    }
  }
  if (!runtime_folder.empty() && runtime_folder[0] == '/') {
    return runtime_folder + "/veska-" + name + ".lock";
  }
  return "/tmp/veska-" + std::to_string(user) + "-" + name + ".lock";
}

SessionLock::~SessionLock() {
  if (fd_ >= 0) close(fd_);
}

SessionLock::Claim SessionLock::Take(const std::string& path) {
  if (fd_ >= 0) return Claim::kClaimed;
  // Not inherited by programs started later, which would keep the session
  // after this process has ended.
  const int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Claim::kUnknown;
  struct stat status {};
  if (fstat(fd, &status) != 0 || status.st_uid != geteuid() ||
      !S_ISREG(status.st_mode)) {
    close(fd);
    return Claim::kUnknown;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool taken = errno == EWOULDBLOCK;
    close(fd);
    return taken ? Claim::kTaken : Claim::kUnknown;
  }
  fd_ = fd;
  return Claim::kClaimed;
}

}  // namespace veska
