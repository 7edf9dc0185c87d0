#include "monitor/counter_repair.h"

#include "app/runtime.h"
#include "shell/shell_services.h"

namespace veska {

namespace {

constexpr const char* kFailureTitle = "Failed to initialize counters";
constexpr const char* kFailureText =
    "This problem usually occurs if counters are either not initialized or "
    "have broken. VESKA can attempt to fix this problem for you. If you do not "
    "know what this means, it's probably OK to say yes here, since VESKA will "
    "not work otherwise. Do you want to give it a shot?";
constexpr const char* kInformationTitle = "Information";
constexpr const char* kRepairText =
    "VESKA will now run a small utility which will fix your counters. For "
    "this, it needs to ask for administrator privilidges. VESKA will then "
    "exit. After this process is complete, restart VESKA, and hopefully "
    "everything will work as expected. If you're still having problems, but "
    "you've already done all this, then please send me a mail.";
constexpr const char* kCloseText =
    "VESKA will not work without these counters. To prevent anything weird, "
    "VESKA will now close.";
constexpr const char* kRepairUtility = "perfmend.exe";

}  // namespace

void RunCounterRepair(AppState& state) {
  ShellServices& shell = *state.services.shell;
  const int32_t answer =
      shell.ShowMessage(kFailureTitle, kFailureText, kMessageYesNo);
  if (answer == kAnswerYes) {
    shell.ShowMessage(kInformationTitle, kRepairText, kMessageOk);
    RunElevated(state, kRepairUtility, "");
  } else {
    shell.ShowMessage(kInformationTitle, kCloseText, kMessageOk);
  }
  // The queries stay open and nothing is saved: the process ends here.
  RuntimeShutdown(state);
}

void RunElevated(AppState& state, const std::string& file,
                 const std::string& parameters) {
  if (state.services.shell == nullptr) return;
  state.services.shell->RunElevated(file, parameters);
}

}  // namespace veska
