// One complete reading of a remote source, as the worker hands it to the
// main loop, and the sources that make one.
#ifndef VESKA_MONITOR_REMOTE_REMOTE_SAMPLE_H_
#define VESKA_MONITOR_REMOTE_REMOTE_SAMPLE_H_

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "monitor/remote/http_fetcher.h"

namespace veska {

inline constexpr double kNoData = std::numeric_limits<double>::quiet_NaN();

struct RemoteSample {
  // Percent busy per voice (a remote core, or a band of hosts); NaN where
  // there is no figure yet.
  std::vector<double> cores;
  double cpu_total = kNoData;    // percent
  double memory_used = kNoData;  // share of memory in use, 0..1
  double disk = kNoData;         // percent of time with I/O in flight
  int hosts_answering = 0;
  int hosts_total = 0;
  bool answering = false;
  std::string problem;
};

// What to ask a source with, besides the URL each source keeps.
struct FetchSettings {
  std::string token;
  std::string user;
  std::string password;
  bool verify_tls = true;
  int timeout_ms = 1000;
  const std::atomic<bool>* cancel = nullptr;
};

class RemoteSource {
 public:
  virtual ~RemoteSource() = default;
  // Asks the source once and returns what it says; called on the worker
  // only, one call at a time.
  virtual RemoteSample Fetch(HttpFetcher& fetcher,
                             const FetchSettings& settings) = 0;
};

// The request for `url` with the settings' credentials and time-out.
HttpRequest MakeRequest(const std::string& url, const FetchSettings& settings,
                        std::size_t max_bytes);

// A short text for a response that is not a success, or "" for one.
std::string DescribeFailure(const HttpResponse& response);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_REMOTE_SAMPLE_H_
