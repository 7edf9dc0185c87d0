// A private virtual X display for a whole test program, and bounded runs of
// the tools that drive it.
#ifndef VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_
#define VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace veska {

// How a bounded child process ended.
struct ChildResult {
  int exit_code = -1;  // -1 unless it exited by itself
  std::string why;     // one line when it did not exit with 0
};

// Runs `argv` (argv[0] found on PATH unless it holds a slash) to its end,
// with its standard output and error going to the given files ("" for
// none). A child that outlives `limit` is killed with its whole process
// group; every child dies with this process, however that ends.
ChildResult RunBounded(const std::vector<std::string>& argv,
                       std::chrono::milliseconds limit,
                       const std::string& out_path = "",
                       const std::string& err_path = "");

// A tool on PATH run to its end within ten seconds; its error output, if
// any, is the reason given.
ChildResult RunTool(const std::vector<std::string>& argv);

// True when `program` is on PATH.
bool ToolExists(const std::string& program);

// An Xvfb of its own, on a free display number, with `options` added: its
// name (":N") once it accepts connections, or "" with the reason in `why`.
// Ended by StopXvfb, or with this process.
std::string StartXvfb(const std::vector<std::string>& options, pid_t* pid,
                      std::string* why);
void StopXvfb(pid_t pid);

// One X server for the whole test program: registered as a global test
// environment, it starts before the first test and points DISPLAY at
// itself. No Xvfb on PATH ends the program with code 77 (skipped); a
// server that does not come up fails the program before any test runs.
// The server never resets, is ended after the last test, and dies with
// this process if that is killed or aborts first.
class VirtualDisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

 private:
  pid_t pid_ = -1;
};

}  // namespace veska

#endif  // VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_
