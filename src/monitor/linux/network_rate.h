// Bytes per second received plus sent over every interface but loopback,
// from the kernel's per-interface totals in "net/dev" under the /proc root
// (the process's own network namespace's interfaces).
#ifndef VESKA_MONITOR_LINUX_NETWORK_RATE_H_
#define VESKA_MONITOR_LINUX_NETWORK_RATE_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/linux/sysfs_text.h"
#include "monitor/resource_sensors.h"

namespace veska {

class NetworkRate {
 public:
  NetworkRate(const std::string& proc_root, std::FILE* messages);

  // Forgets the last total, so the next read starts a new rate.
  void Prepare(int64_t now_ns);
  // The rate since the last read; 0 on the first one.
  ResourceReading Read(int64_t now_ns);

  // Received plus sent bytes of every interface but loopback in the text
  // of "net/dev"; none when no interface line is there.
  static std::optional<uint64_t> TotalBytes(std::string_view text);

 private:
  std::string path_;
  SilenceNotice notice_;
  bool have_total_ = false;
  uint64_t total_ = 0;
  int64_t time_ns_ = 0;
  double rate_ = 0.0;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_NETWORK_RATE_H_
