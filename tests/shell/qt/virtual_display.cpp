#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "temp_folder.h"

namespace veska {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + program;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

// Logs and probe output of this test program; removed when it ends.
const std::filesystem::path& ScratchFolder() {
  static const testing::TempFolder folder;
  return folder.path();
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return text;
}

// The last non-empty line of a file, for a one-line reason.
std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string last;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) last = line;
  }
  return last;
}

// Starts `argv` in a process group of its own that is killed when this
// process dies, with nothing of ours open but standard input (/dev/null),
// output and error (the given files, or /dev/null) and, as descriptor 3,
// `pass_fd` when that is not -1. -1, with the reason in `why`, on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& out_path,
            const std::string& err_path, int pass_fd, std::string* why) {
  const std::string program = FindOnPath(argv.at(0));
  if (program.empty()) {
    *why = argv[0] + " is not on PATH";
    return -1;
  }
  // Everything the child needs is made before the fork: after it, only
  // async-signal-safe calls, as the toolkit runs threads of its own.
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const char* out = out_path.empty() ? "/dev/null" : out_path.c_str();
  const char* err = err_path.empty() ? "/dev/null" : err_path.c_str();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *why = "cannot start " + argv[0] + ": fork failed";
    return -1;
  }
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent is already gone
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in_fd = open("/dev/null", O_RDONLY);
    const int out_fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(127);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (pass_fd >= 0) {
      dup2(pass_fd, 3);
      fcntl(3, F_SETFD, 0);
    }
    close_range(pass_fd >= 0 ? 4 : 3, ~0u, 0);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  return pid;
}

// Waits until `pid` ends or the deadline passes, then kills its group.
// True, with the wait status, when it ended by itself.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int* status) {
  milliseconds pause(1);
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, milliseconds(20));
  }
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

std::string Seconds(milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", limit.count() / 1000.0);
  return text;
}

}  // namespace

ChildResult RunBounded(const std::vector<std::string>& argv, milliseconds limit,
                       const std::string& out_path,
                       const std::string& err_path) {
  ChildResult result;
  const pid_t pid = Spawn(argv, out_path, err_path, -1, &result.why);
  if (pid < 0) return result;
  int status = 0;
  const std::string what = "\"" + Joined(argv) + "\"";
  if (!WaitUntil(pid, Clock::now() + limit, &status)) {
    result.why = what + " did not end within " + Seconds(limit) + "; killed";
    return result;
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
    if (result.exit_code == 127) {
      result.why = what + " could not be run";
    } else if (result.exit_code != 0) {
      result.why =
          what + " ended with code " + std::to_string(result.exit_code);
    }
  } else {
    result.why =
        what + " was killed by signal " + std::to_string(WTERMSIG(status));
  }
  if (!result.why.empty() && !err_path.empty()) {
    const std::string said = LastLine(err_path);
    if (!said.empty()) result.why += ": " + said;
  }
  return result;
}

ChildResult RunTool(const std::vector<std::string>& argv) {
  static int runs = 0;
  const std::string err =
      (ScratchFolder() / ("tool" + std::to_string(++runs) + ".err")).string();
  ChildResult result = RunBounded(argv, milliseconds(10000), "", err);
  std::remove(err.c_str());
  return result;
}

bool ToolExists(const std::string& program) {
  return !FindOnPath(program).empty();
}

std::string StartXvfb(const std::vector<std::string>& options, pid_t* pid,
                      std::string* why) {
  static int servers = 0;
  const std::string log =
      (ScratchFolder() / ("xvfb" + std::to_string(++servers) + ".log"))
          .string();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *why = "no pipe for the display number";
    return "";
  }
  // -displayfd: the server takes a free number and writes it once it
  // accepts connections.
  std::vector<std::string> argv = {"Xvfb",      "-displayfd", "3",
                                   "-screen",   "0",          "1024x768x24",
                                   "-nolisten", "tcp"};
  argv.insert(argv.end(), options.begin(), options.end());
  *pid = Spawn(argv, "", log, fds[1], why);
  close(fds[1]);
  std::string number;
  bool ended = false;
  const milliseconds limit(30000);
  const auto deadline = Clock::now() + limit;
  while (*pid > 0) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    pollfd readable{fds[0], POLLIN, 0};
    const int ready = left.count() > 0
                          ? poll(&readable, 1, static_cast<int>(left.count()))
                          : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char c = 0;
    const ssize_t got = read(fds[0], &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1 || c == '\n') {
      ended = number.empty();
      break;
    }
    if (c >= '0' && c <= '9') number += c;
  }
  close(fds[0]);
  if (*pid > 0 && number.empty()) {
    *why = ended ? "Xvfb ended before it took a display"
                 : "Xvfb took no display within " + Seconds(limit);
    const std::string said = LastLine(log);
    if (!said.empty()) *why += ": " + said;
    StopXvfb(*pid);
    *pid = -1;
  }
  return number.empty() ? "" : ":" + number;
}

void StopXvfb(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  WaitUntil(pid, Clock::now() + milliseconds(5000), &status);
}

void VirtualDisplayEnvironment::SetUp() {
  if (!ToolExists("Xvfb")) {
    std::printf("SKIPPED: Xvfb is not installed; no virtual display can run\n");
    std::fflush(stdout);
    std::exit(77);
  }
  // Nothing here may reach the caller's desktop session.
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::string why;
  // -noreset: the server would otherwise reset each time its last client
  // leaves, and drop connections that arrive meanwhile.
  const std::string name = StartXvfb({"-noreset"}, &pid_, &why);
  if (name.empty()) {
    // No test can run without it: one line and an end, not a skip per test.
    std::printf("FAILED: no virtual display: %s\n", why.c_str());
    std::fflush(stdout);
    std::exit(1);
  }
  setenv("DISPLAY", name.c_str(), 1);
}

void VirtualDisplayEnvironment::TearDown() {
  StopXvfb(pid_);
  pid_ = -1;
}

}  // namespace veska
