#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "shell/qt/program_start.h"

extern char** environ;

namespace veska {
namespace {

std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return args;
}

}  // namespace

bool ToolExists(const std::string& program) {
  return !FindProgram(program, ProgramSearchFolders()).empty();
}

int RunTool(const std::vector<std::string>& argv) {
  const std::string path = FindProgram(argv.at(0), ProgramSearchFolders());
  if (path.empty()) return -1;
  std::vector<char*> args = ArgvOf(argv);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, args.data(), environ) !=
      0) {
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool VirtualDisplay::Start(std::string* why) {
  const std::string server = FindProgram("Xvfb", ProgramSearchFolders());
  if (server.empty()) {
    *why = "Xvfb is not installed; no virtual display can run";
    return false;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    *why = "no pipe";
    return false;
  }
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  // The server writes the display number it chose to this descriptor once
  // it accepts connections.
  std::vector<std::string> argv = {
      server,      "-displayfd", std::to_string(fds[1]),
      "-screen",   "0",          "1024x768x24",
      "-nolisten", "tcp"};
  std::vector<char*> args = ArgvOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawn(&pid_, server.c_str(), &actions, nullptr,
                                  args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    pid_ = -1;
    *why = "Xvfb could not be started";
    return false;
  }
  std::string number;
  pollfd readable{fds[0], POLLIN, 0};
  while (poll(&readable, 1, 20000) > 0) {
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    *why = "Xvfb did not come up";
    return false;
  }
  name_ = ":" + number;
  setenv("DISPLAY", name_.c_str(), 1);
  return true;
}

VirtualDisplay::~VirtualDisplay() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

}  // namespace veska
