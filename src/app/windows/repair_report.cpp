#include "app/windows/repair_report.h"

namespace veska {

std::string NotElevatedReport() {
  return "perfmend repairs the performance counters that VESKA reads. That "
         "needs administrator rights, and it was started without them, so "
         "nothing was changed.\n\n"
         "Answer Yes when VESKA offers the repair, or start perfmend.exe "
         "with \"Run as administrator\".";
}

std::string RepairReport(const std::vector<RepairStep>& steps) {
  std::string text =
      "perfmend ran the system's own tools to rebuild the performance "
      "counters:\n";
  int number = 0;
  for (const RepairStep& step : steps) {
    text += "\n" + std::to_string(++number) + ". " + step.command + " (" +
            step.purpose + "): ";
    const std::string code = std::to_string(step.code);
    switch (step.outcome) {
      case RepairStep::Outcome::kSucceeded:
        text += "succeeded, exit code " + code + ".";
        break;
      case RepairStep::Outcome::kFailed:
        text += "FAILED, exit code " + code + ".";
        break;
      case RepairStep::Outcome::kMissing:
        text += "not run: the tool is missing (" + step.path + ").";
        break;
      case RepairStep::Outcome::kNotStarted:
        text += "not run: the tool could not be started (system error " + code +
                ").";
        break;
      case RepairStep::Outcome::kTimedOut:
        text += "did not finish in time and was left running.";
        break;
    }
  }
  text += RepairExitCode(steps) == 0
              ? "\n\nThe counters should work again: start VESKA."
              : "\n\nThe repair did not complete, so VESKA may still fail to "
                "read its counters.";
  return text;
}

int RepairExitCode(const std::vector<RepairStep>& steps) {
  for (const RepairStep& step : steps) {
    if (step.outcome != RepairStep::Outcome::kSucceeded) return 1;
  }
  return steps.empty() ? 1 : 0;
}

}  // namespace veska
