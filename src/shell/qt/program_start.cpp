#include "shell/qt/program_start.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

extern char** environ;

namespace veska {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  return absolute.lexically_normal().string();
}

// Only an absolute folder names the same place wherever we run; an empty
// entry (the current folder) or a relative one would let a file planted in
// the working folder be run, even with administrator rights.
bool IsAbsoluteFolder(const std::string& folder) {
  return !folder.empty() && folder.front() == '/';
}

// The absolute entries of PATH, in order.
std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return folders;
  std::string entry;
  for (const char* p = path;; ++p) {
    if (*p == ':' || *p == '\0') {
      if (IsAbsoluteFolder(entry)) folders.push_back(entry);
      entry.clear();
      if (*p == '\0') break;
    } else {
      entry += *p;
    }
  }
  return folders;
}

}  // namespace

std::vector<std::string> ProgramSearchFolders() {
  std::vector<std::string> folders;
  std::error_code error;
  const std::filesystem::path self =
      std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) folders.push_back(self.parent_path().string());
  for (std::string& folder : PathFolders())
    folders.push_back(std::move(folder));
  return folders;
}

std::string FindProgram(const std::string& file,
                        const std::vector<std::string>& folders) {
  if (file.empty()) return "";
  if (file.find('/') != std::string::npos) {
    return IsExecutableFile(file) ? Absolute(file) : "";
  }
  for (const std::string& folder : folders) {
    if (!IsAbsoluteFolder(folder)) continue;
    const std::string candidate =
        folder.back() == '/' ? folder + file : folder + "/" + file;
    if (IsExecutableFile(candidate)) return Absolute(candidate);
  }
  return "";
}

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  // Everything the processes after fork touch is made before it, so that
  // they allocate nothing in a copy of a threaded process.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const long open_max = sysconf(_SC_OPEN_MAX);
  const int fd_limit =
      open_max > 0 && open_max < 65536 ? static_cast<int>(open_max) : 65536;

  // The keeper tells through this pipe whether the program started.
  int started_pipe[2];
  if (pipe2(started_pipe, O_CLOEXEC) != 0) return false;

  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    close(started_pipe[0]);
    close(started_pipe[1]);
    return false;
  }
  sigset_t no_signals;
  sigset_t all_signals;
  sigemptyset(&no_signals);
  sigfillset(&all_signals);
  // The program must not inherit our blocked or ignored signals.
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &all_signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const pid_t intermediate = fork();
  if (intermediate == 0) {
    // The intermediate ends at once, orphaning the keeper, so nothing of
    // ours waits for the program and nothing is left for us to reap.
    if (fork() != 0) _exit(0);
    // The keeper stays the program's parent until it ends: an elevation
    // helper refuses to run for an orphan and asks on behalf of its parent.
    // It holds none of our connections (display, sound) open meanwhile.
    for (int fd = 3; fd < fd_limit; ++fd) {
      if (fd != started_pipe[1]) close(fd);
    }
    pid_t program = 0;
    const char started = posix_spawn(&program, args[0], nullptr, &attributes,
                                     args.data(), environ) == 0
                             ? 1
                             : 0;
    ssize_t written = 0;
    do {
      written = write(started_pipe[1], &started, 1);
    } while (written < 0 && errno == EINTR);
    close(started_pipe[1]);
    if (started == 1) {
      while (waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    _exit(0);
  }
  posix_spawnattr_destroy(&attributes);
  close(started_pipe[1]);
  if (intermediate < 0) {
    close(started_pipe[0]);
    return false;
  }

  pid_t waited = 0;
  do {
    waited = waitpid(intermediate, nullptr, 0);
  } while (waited < 0 && errno == EINTR);
  // No answer at all: the keeper could not be made.
  char started = 0;
  ssize_t got = 0;
  do {
    got = read(started_pipe[0], &started, 1);
  } while (got < 0 && errno == EINTR);
  close(started_pipe[0]);
  return got == 1 && started == 1;
}

bool StartElevated(const std::string& file, const std::string& parameters) {
  const std::string program = FindProgram(file, ProgramSearchFolders());
  if (program.empty()) return false;
  std::vector<std::string> argv;
  const std::string pkexec = FindProgram("pkexec", PathFolders());
  if (!pkexec.empty()) argv.push_back(pkexec);
  argv.push_back(program);
  if (!parameters.empty()) argv.push_back(parameters);
  return StartDetached(argv);
}

}  // namespace veska
