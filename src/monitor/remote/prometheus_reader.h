// Reading the answers of the metrics server's HTTP query API.
#ifndef VESKA_MONITOR_REMOTE_PROMETHEUS_READER_H_
#define VESKA_MONITOR_REMOTE_PROMETHEUS_READER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace veska {

// One series of an instant query's answer: its "instance" label and value.
struct InstantValue {
  std::string instance;
  double value = 0.0;
};

// One series of a range query's answer: (time, value) points in time order.
struct RangeSeries {
  std::string instance;
  std::vector<std::pair<double, double>> points;
};

// Answers nested deeper than this, or with more series, are refused.
inline constexpr int kMaxJsonDepth = 16;
inline constexpr std::size_t kMaxSeries = 100000;

// An instant query's answer ("resultType":"vector", or "scalar" as one value
// without instance). False, with `error` saying why in a few words, for
// anything else: an error answer, malformed JSON, or values that are no
// numbers. An empty result is a success with no values: no data yet.
bool ReadInstantAnswer(std::string_view body, std::vector<InstantValue>* values,
                       std::string* error);

// A range query's answer ("resultType":"matrix").
bool ReadRangeAnswer(std::string_view body, std::vector<RangeSeries>* series,
                     std::string* error);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_PROMETHEUS_READER_H_
