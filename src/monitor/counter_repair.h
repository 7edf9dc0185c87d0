// What happens when the counters cannot be set up: tell the user, offer the
// repair utility, and end.
#ifndef VESKA_MONITOR_COUNTER_REPAIR_H_
#define VESKA_MONITOR_COUNTER_REPAIR_H_

#include <string>

#include "app/app_state.h"

namespace veska {

[[noreturn]] void RunCounterRepair(AppState& state);
void RunElevated(AppState& state, const std::string& file,
                 const std::string& parameters);

}  // namespace veska

#endif  // VESKA_MONITOR_COUNTER_REPAIR_H_
