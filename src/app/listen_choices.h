// What VESKA can listen to: this computer, and the sources main() read from
// "sources.ini", each a counter binding of its own. The application only
// switches between them; it knows nothing of how a source is reached.
#ifndef VESKA_APP_LISTEN_CHOICES_H_
#define VESKA_APP_LISTEN_CHOICES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/counter_library.h"
#include "monitor/source_status.h"

namespace veska {

// Menu ids of the "Listen to" items: this computer, then each source.
inline constexpr int32_t kMenuListenFirst = 100;
inline constexpr const char* kThisComputer = "This computer";

struct ListenChoice {
  std::string name;
  CounterLibrary* counters = nullptr;
  // Null for this computer.
  SourceStatusReader* status = nullptr;
};

struct ListenState {
  // Empty when there is no source: then there is no "Listen to" menu.
  std::vector<ListenChoice> choices;
  std::size_t current = 0;
};

// The counters of the current choice; `local` where there is no source.
inline CounterLibrary& ChosenCounters(const ListenState& listen,
                                      CounterLibrary& local) {
  return listen.choices.empty() ? local
                                : *listen.choices[listen.current].counters;
}

}  // namespace veska

#endif  // VESKA_APP_LISTEN_CHOICES_H_
