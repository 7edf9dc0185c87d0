// The events a desktop shell has seen and not yet handed to the main loop,
// and what the last one handed out carried, for EventParam and EventMenuId.
#ifndef VESKA_SHELL_EVENT_QUEUE_H_
#define VESKA_SHELL_EVENT_QUEUE_H_

#include <cstdint>
#include <deque>

#include "shell/shell_services.h"

namespace veska {

class ShellEventQueue {
 public:
  void Push(int32_t code, std::intptr_t param, int32_t menu_id,
            bool repeat = false) {
    events_.push_back({code, param, menu_id, repeat});
  }
  bool empty() const { return events_.empty(); }

  // The oldest event's code, kEventTimeout when there is none. A menu id is
  // kept until the next menu event.
  int32_t Take() {
    if (events_.empty()) return kEventTimeout;
    const Event event = events_.front();
    events_.pop_front();
    param_ = event.param;
    repeat_ = event.repeat;
    if (event.code == kEventMenu) menu_id_ = event.menu_id;
    return event.code;
  }
  std::intptr_t param() const { return param_; }
  int32_t menu_id() const { return menu_id_; }
  bool repeat() const { return repeat_; }

 private:
  struct Event {
    int32_t code;
    std::intptr_t param;
    int32_t menu_id;
    bool repeat;
  };
  std::deque<Event> events_;
  std::intptr_t param_ = 0;
  int32_t menu_id_ = 0;
  bool repeat_ = false;
};

}  // namespace veska

#endif  // VESKA_SHELL_EVENT_QUEUE_H_
