#include "monitor/counter_repair.h"

namespace veska {

namespace {

constexpr const char* kFailureTitle = "Failed to initialize counters";
constexpr const char* kFailureText =
    "This problem usually occurs if counters are either not initialized or "
    "have broken. VESKA can attempt to fix this problem for you. If you do not "
    "know what this means, it's probably OK to say yes here, since VESKA will "
    "not work otherwise. Do you want to give it a shot?";

}  // namespace

CounterRepairOutcome OfferCounterRepair(ShellServices& shell) {
  const int32_t answer =
      shell.ShowMessage(kFailureTitle, kFailureText, kMessageYesNo);
  return answer == kAnswerYes ? CounterRepairOutcome::kRepairChosen
                              : CounterRepairOutcome::kRepairDeclined;
}

void RunElevated(ShellServices& shell, const std::string& file,
                 const std::string& parameters) {
  shell.RunElevated(file, parameters);
}

}  // namespace veska
