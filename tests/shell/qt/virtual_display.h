// A private virtual X display for tests, and the tools that drive it.
#ifndef VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_
#define VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace veska {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // Starts an X server on a free display number and points DISPLAY at it.
  // False, with the reason in `why`, when none can run here.
  bool Start(std::string* why);
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Runs a program found on PATH to its end; its exit code, or -1 when it
// could not be run.
int RunTool(const std::vector<std::string>& argv);

// True when `program` is on PATH.
bool ToolExists(const std::string& program);

}  // namespace veska

#endif  // VESKA_TESTS_SHELL_QT_VIRTUAL_DISPLAY_H_
