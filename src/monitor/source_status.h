// What the application may say about the machine it listens to when that is
// not this computer: how many hosts answer, and whether the source answers
// at all. Never holds a secret.
#ifndef VESKA_MONITOR_SOURCE_STATUS_H_
#define VESKA_MONITOR_SOURCE_STATUS_H_

#include <string>

namespace veska {

struct SourceStatus {
  // False until the first answer, and while the source does not answer.
  bool answering = false;
  int hosts_answering = 0;
  int hosts_total = 0;
  // Voices the source would play now (0 when not known yet); differs from
  // the set-up's count when hosts came or went.
  int voices = 0;
  // Why the source does not answer, in a few words ("no answer", "HTTP 401").
  std::string problem;
};

class SourceStatusReader {
 public:
  virtual ~SourceStatusReader() = default;
  virtual SourceStatus ReadSourceStatus() = 0;
};

}  // namespace veska

#endif  // VESKA_MONITOR_SOURCE_STATUS_H_
