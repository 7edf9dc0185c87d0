// What perfmend.exe tells the user: each step of the counter repair and how
// it ended, in one message.
#ifndef VESKA_APP_WINDOWS_REPAIR_REPORT_H_
#define VESKA_APP_WINDOWS_REPAIR_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace veska {

inline constexpr const char* kRepairTitle = "VESKA counter repair";

struct RepairStep {
  enum class Outcome { kSucceeded, kFailed, kMissing, kNotStarted, kTimedOut };
  std::string command;  // as typed, e.g. "lodctr /R"
  std::string purpose;  // what it does, for the user
  std::string path;     // the tool's file
  Outcome outcome = Outcome::kNotStarted;
  uint32_t code = 0;  // the exit code, or the system error when not started
};

// The message without administrator rights: nothing was run.
std::string NotElevatedReport();
// The message after the steps ran (or were found missing), in their order.
std::string RepairReport(const std::vector<RepairStep>& steps);
// 0 when every step succeeded, 1 otherwise.
int RepairExitCode(const std::vector<RepairStep>& steps);

}  // namespace veska

#endif  // VESKA_APP_WINDOWS_REPAIR_REPORT_H_
