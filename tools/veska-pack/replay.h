// A fleet's past as a load script: what a Prometheus source of sources.ini
// played over the last stretch, played faster.
#ifndef VESKA_TOOLS_VESKA_PACK_REPLAY_H_
#define VESKA_TOOLS_VESKA_PACK_REPLAY_H_

#include <optional>
#include <string>
#include <vector>

#include "load_script.h"
#include "monitor/remote/http_fetcher.h"
#include "monitor/remote/remote_sample.h"
#include "monitor/remote/sources_file.h"

namespace veska::pack {

// "90", "90s", "5m", "2h", "1d" in seconds; nothing for anything else.
std::optional<double> ParseDuration(const std::string& text);

// The samples as loads in percent, one point each (no figure reads 0).
std::vector<LoadPoint> ReplayPoints(const std::vector<RemoteSample>& samples);

struct Replay {
  LoadScript script;
  int voices = 0;
};

// The last `range_s` seconds before `now_s` of `source`, `speed` times
// faster. False with `error` said for the user.
bool FetchReplay(HttpFetcher& fetcher, const SourceEntry& source, double now_s,
                 double range_s, double speed, Replay* replay,
                 std::string* error);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_REPLAY_H_
