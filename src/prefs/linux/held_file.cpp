// POSIX file calls for the preferences store.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "prefs/held_file.h"
#include "prefs/save_sibling.h"

namespace veska {
namespace {

// A save result: 0 when done, else an errno value or this, which says that
// the file can only be written in place.
constexpr int kNoRename = -1;

struct FolderAndName {
  std::string folder;  // "." for a bare name
  std::string name;
  std::string lead;  // what precedes the name in the path, "" for a bare name
};

FolderAndName Split(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path, ""};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1),
          path.substr(0, slash + 1)};
}

// A symbolic link stays a link: the rename replaces the file it leads to.
// A file not yet there is named in its folder's resolved path.
std::string ResolvedPath(const std::string& name) {
  if (char* resolved = realpath(name.c_str(), nullptr)) {
    std::string path(resolved);
    std::free(resolved);
    return path;
  }
  FolderAndName parts = Split(name);
  char* folder = realpath(parts.folder.c_str(), nullptr);
  if (folder == nullptr) return name;
  std::string path(folder);
  std::free(folder);
  if (path.back() != '/') path += '/';
  return path + parts.name;
}

int WriteAllAt(int fd, std::string_view bytes) {
  off_t offset = 0;
  while (!bytes.empty()) {
    ssize_t written = pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    offset += written;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

// In one write, so that a kill leaves the old bytes or the new: a shorter
// content goes out followed by line ends up to the old length (blank lines
// to the reader), and only then is the end cut. No file can be both
// rewritten and shortened in one step.
int WriteInPlace(int fd, std::string_view bytes) {
  struct stat info;
  if (fstat(fd, &info) != 0) return errno;
  // Room first, so that a full disk leaves the old content whole; kept
  // beyond the end, so that a kill leaves no zeros there.
  if (!bytes.empty() &&
      fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size())) !=
          0 &&
      errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
    return errno;
  }
  // Nor may a file size limit stop the write half way.
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      bytes.size() > limit.rlim_cur) {
    return EFBIG;
  }
  std::string padded;
  if (static_cast<uint64_t>(info.st_size) > bytes.size()) {
    padded.reserve(static_cast<size_t>(info.st_size));
    padded.append(bytes).append(
        static_cast<size_t>(info.st_size) - bytes.size(), '\n');
  }
  if (int error = WriteAllAt(fd, padded.empty() ? bytes : padded)) return error;
  if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return errno;
  return fsync(fd) == 0 ? 0 : errno;
}

int WriteInPlaceAt(const std::string& path, std::string_view bytes) {
  int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return errno;
  int error = WriteInPlace(fd, bytes);
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Siblings of `path` left behind by saves that were killed.
void RemoveDeadSiblings(const std::string& path) {
  FolderAndName parts = Split(path);
  DIR* folder = opendir(parts.folder.c_str());
  if (folder == nullptr) return;
  while (dirent* entry = readdir(folder)) {
    const pid_t owner =
        pid_t(SaveSiblingOwner<char>(entry->d_name, parts.name, "."));
    if (owner != 0 && owner != getpid() && kill(owner, 0) != 0 &&
        errno == ESRCH) {
      unlinkat(dirfd(folder), entry->d_name, 0);
    }
  }
  closedir(folder);
}

// A file's next content while it is written: a hidden sibling, renamed over
// the file once complete and flushed. Removed if it never gets there.
class Sibling {
 public:
  Sibling() = default;
  Sibling(const Sibling&) = delete;
  Sibling& operator=(const Sibling&) = delete;
  ~Sibling() { Drop(); }

  // Makes the sibling of `target`; `like`, when given, lends it the owner
  // and mode of the file it replaces. 0 or the errno.
  int Make(const std::string& target, const struct stat* like) {
    static std::atomic<unsigned> serial{0};
    FolderAndName parts = Split(target);
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
      path_ = parts.lead + "." + parts.name + "." + std::to_string(getpid()) +
              "." + std::to_string(serial++) + ".tmp";
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
      int error = errno;
      path_.clear();
      return error;
    }
    if (like != nullptr) {
      // Owner first: changing it may clear mode bits. Kept only where allowed.
      if (fchown(fd_, like->st_uid, like->st_gid) != 0) {
      }
      if (fchmod(fd_, like->st_mode & 07777) != 0) {
      }
    }
    return 0;
  }

  // Writes, flushes and renames the sibling over `target`: 0, kNoRename or
  // the errno. The target is untouched unless it is 0.
  int Finish(const std::string& target, std::string_view bytes) {
    int error = WriteAllAt(fd_, bytes);
    if (error == 0 && fsync(fd_) != 0) error = errno;
    if (close(std::exchange(fd_, -1)) != 0 && error == 0) error = errno;
    if (error == 0 && rename(path_.c_str(), target.c_str()) != 0) {
      error = errno;
      // A mount point, another file system, or a file that a sticky folder
      // keeps from us: the file itself may still be written.
      if (error == EXDEV || error == EBUSY || error == EPERM ||
          error == EACCES) {
        error = kNoRename;
      }
    }
    if (error != 0) return error;
    path_.clear();
    SyncFolder(Split(target).folder);
    return 0;
  }

 private:
  void Drop() {
    if (fd_ >= 0) close(std::exchange(fd_, -1));
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }

  int fd_ = -1;
  std::string path_;
};

int SaveBeside(const std::string& target, std::string_view bytes,
               const struct stat* like) {
  Sibling sibling;
  int error = sibling.Make(target, like);
  if (error == EACCES || error == EPERM) return kNoRename;
  return error != 0 ? error : sibling.Finish(target, bytes);
}

}  // namespace

struct HeldFile::Handle {
  int fd = -1;  // -1 for a created file that was not there
  bool read_only = false;
  std::string path;  // resolved at open, so a later change of folder is moot
  std::unique_ptr<Sibling> sibling;  // a created file's new content

  ~Handle() {
    if (fd >= 0) close(fd);
  }
};

namespace {

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
  handle->fd = open(name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (handle->fd >= 0) return HoldIfRegular(std::move(handle), name);
  if (errno != ENOENT) return nullptr;
  struct stat link;
  if (lstat(name.c_str(), &link) == 0) {
    // A link to nothing yet: its file is made where it leads, empty.
    handle->fd =
        open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    return handle->fd >= 0 ? HoldIfRegular(std::move(handle), name) : nullptr;
  }
  handle->path = ResolvedPath(name);
  handle->sibling = std::make_unique<Sibling>();
  if (handle->sibling->Make(handle->path, nullptr) != 0) return nullptr;
  return std::make_unique<HeldFile>(std::move(handle));
}

HeldFile::HeldFile(std::unique_ptr<Handle> handle)
    : handle_(std::move(handle)) {}

HeldFile::~HeldFile() = default;

bool HeldFile::read_only() const { return !handle_ || handle_->read_only; }

bool HeldFile::ReadAll(std::string* bytes) {
  bytes->clear();
  if (!handle_ || handle_->fd < 0) return false;
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

bool HeldFile::ReplaceContent(std::string_view bytes, std::string* error) {
  if (read_only()) {
    *error = "it is open for reading only";
    handle_.reset();
    return false;
  }
  std::unique_ptr<Handle> held = std::move(handle_);
  RemoveDeadSiblings(held->path);
  int result = 0;
  if (held->sibling) {
    result = held->sibling->Finish(held->path, bytes);
    if (result == kNoRename) result = WriteInPlaceAt(held->path, bytes);
  } else {
    struct stat info;
    if (fstat(held->fd, &info) != 0) {
      result = errno;
    } else if (info.st_nlink > 1) {
      // A rename would split the file from its other names.
      result = WriteInPlace(held->fd, bytes);
    } else {
      result = SaveBeside(held->path, bytes, &info);
      if (result == kNoRename) result = WriteInPlace(held->fd, bytes);
    }
  }
  if (result != 0) *error = std::strerror(result);
  return result == 0;
}

void RemoveDeadSaveSiblings(const std::string& name) {
  RemoveDeadSiblings(ResolvedPath(name));
}

bool WriteWholeFile(const std::string& name, std::string_view bytes,
                    std::string* error) {
  std::string target = ResolvedPath(name);
  RemoveDeadSiblings(target);
  struct stat info;
  bool exists = stat(target.c_str(), &info) == 0;
  int result = exists && info.st_nlink > 1
                   ? kNoRename
                   : SaveBeside(target, bytes, exists ? &info : nullptr);
  if (result == kNoRename) result = WriteInPlaceAt(target, bytes);
  if (result != 0) *error = std::strerror(result);
  return result == 0;
}

}  // namespace veska
