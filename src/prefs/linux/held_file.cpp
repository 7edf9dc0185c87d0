// POSIX file calls for the preferences store.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "prefs/held_file.h"

namespace veska {

struct HeldFile::Handle {
  int fd = -1;
  bool read_only = false;
  std::string path;  // resolved at open, so a later change of folder is moot

  ~Handle() {
    if (fd >= 0) close(fd);
  }
};

namespace {

bool WriteAllAt(int fd, std::string_view bytes) {
  off_t offset = 0;
  while (!bytes.empty()) {
    ssize_t written = pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    offset += written;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool WriteInPlace(int fd, std::string_view bytes) {
  return WriteAllAt(fd, bytes) &&
         ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && fsync(fd) == 0;
}

// A symbolic link stays a link: the rename replaces the file it leads to.
std::string ResolvedPath(const std::string& name) {
  char* resolved = realpath(name.c_str(), nullptr);
  if (resolved == nullptr) return name;
  std::string path(resolved);
  std::free(resolved);
  return path;
}

void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes a hidden sibling of `target`, flushes it and renames it over
// `target`; `like`, when given, lends its owner and mode to the new file.
// False leaves `target` as it was.
bool ReplaceByRename(const std::string& target, std::string_view bytes,
                     const struct stat* like) {
  static std::atomic<unsigned> serial{0};
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : target.substr(0, slash);
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string prefix = target.substr(0, base) + "." + target.substr(base);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = prefix + "." + std::to_string(getpid()) + "." +
           std::to_string(serial++) + ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  if (like != nullptr) {
    // Owner first: changing it may clear mode bits. Kept only where allowed.
    if (fchown(fd, like->st_uid, like->st_gid) != 0) {
    }
    if (fchmod(fd, like->st_mode & 07777) != 0) {
    }
  }
  bool written = WriteAllAt(fd, bytes) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

std::unique_ptr<HeldFile> HoldIfRegular(
    std::unique_ptr<HeldFile::Handle> handle, const std::string& name) {
  struct stat info;
  if (fstat(handle->fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  handle->path = ResolvedPath(name);
  return std::make_unique<HeldFile>(std::move(handle));
}

}  // namespace

std::unique_ptr<HeldFile> HeldFile::OpenExisting(const std::string& name) {
  auto handle = std::make_unique<Handle>();
  // Non-blocking, so that a named pipe in the file's place cannot hang us.
  handle->fd = open(name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (handle->fd < 0) {
    handle->fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    handle->read_only = true;
  }
  if (handle->fd < 0) return nullptr;
  return HoldIfRegular(std::move(handle), name);
}

std::unique_ptr<HeldFile> HeldFile::Create(const std::string& name) {
  auto handle = std::make_unique<Handle>();
  handle->fd = open(name.c_str(),
                    O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (handle->fd < 0) return nullptr;
  return HoldIfRegular(std::move(handle), name);
}

HeldFile::HeldFile(std::unique_ptr<Handle> handle)
    : handle_(std::move(handle)) {}

HeldFile::~HeldFile() = default;

bool HeldFile::read_only() const { return !handle_ || handle_->read_only; }

bool HeldFile::ReadAll(std::string* bytes) {
  bytes->clear();
  if (!handle_) return false;
  char chunk[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t got = pread(handle_->fd, chunk, sizeof chunk, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    bytes->append(chunk, static_cast<size_t>(got));
    offset += got;
  }
}

bool HeldFile::ReplaceContent(std::string_view bytes) {
  if (read_only()) return false;
  struct stat info;
  // A rename would split a file with several names from its other names.
  bool done = fstat(handle_->fd, &info) == 0 && info.st_nlink <= 1 &&
              ReplaceByRename(handle_->path, bytes, &info);
  if (!done) done = WriteInPlace(handle_->fd, bytes);
  handle_.reset();
  return done;
}

bool WriteWholeFile(const std::string& name, std::string_view bytes) {
  std::string target = ResolvedPath(name);
  struct stat info;
  bool exists = stat(target.c_str(), &info) == 0;
  if (ReplaceByRename(target, bytes, exists ? &info : nullptr)) return true;
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool done = WriteInPlace(fd, bytes);
  return close(fd) == 0 && done;
}

}  // namespace veska
