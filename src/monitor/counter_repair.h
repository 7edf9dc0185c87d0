// When the counters cannot be set up, the user is offered the repair
// utility. The offer only asks; the application tells the user what follows,
// starts the utility when it was chosen, and ends the program.
#ifndef VESKA_MONITOR_COUNTER_REPAIR_H_
#define VESKA_MONITOR_COUNTER_REPAIR_H_

#include <string>

#include "shell/shell_services.h"

namespace veska {

enum class CounterRepairOutcome { kRepairChosen, kRepairDeclined };

inline constexpr const char* kCounterRepairUtility = "perfmend.exe";

// "Yes" chooses the repair; any other answer declines it.
[[nodiscard]] CounterRepairOutcome OfferCounterRepair(ShellServices& shell);

void RunElevated(ShellServices& shell, const std::string& file,
                 const std::string& parameters);

}  // namespace veska

#endif  // VESKA_MONITOR_COUNTER_REPAIR_H_
