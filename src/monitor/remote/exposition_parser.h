// The text format exporters publish their metrics in: one sample per line,
// `name{label="value",...} value [timestamp]`, with "#" lines for help and
// types. Only what the remote binding needs is kept.
#ifndef VESKA_MONITOR_REMOTE_EXPOSITION_PARSER_H_
#define VESKA_MONITOR_REMOTE_EXPOSITION_PARSER_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veska {

struct MetricSample {
  std::string name;
  std::vector<std::pair<std::string, std::string>> labels;
  double value = 0.0;

  // The label's value, "" when the sample has none of that name.
  std::string_view Label(std::string_view label) const;
};

// Bounds past which a response is refused as hostile rather than read.
inline constexpr std::size_t kMaxLabelsPerSample = 32;
inline constexpr std::size_t kMaxKeptSamples = 100000;

// Reads `text`, keeping the samples whose name `keep` accepts (all without
// it). False, with `samples` emptied, for text that is not in the format or
// goes past the bounds: a scrape is read whole or not at all.
bool ParseExposition(std::string_view text,
                     const std::function<bool(std::string_view)>& keep,
                     std::vector<MetricSample>* samples);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_EXPOSITION_PARSER_H_
