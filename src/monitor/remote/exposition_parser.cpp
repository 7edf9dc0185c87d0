#include "monitor/remote/exposition_parser.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace veska {
namespace {

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == ':';
}
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

class LineReader {
 public:
  explicit LineReader(std::string_view line) : rest_(line) {}

  void SkipBlanks() {
    while (!rest_.empty() && (rest_[0] == ' ' || rest_[0] == '\t')) {
      rest_.remove_prefix(1);
    }
  }
  bool Take(char c) {
    if (rest_.empty() || rest_[0] != c) return false;
    rest_.remove_prefix(1);
    return true;
  }
  bool Name(std::string* name, bool colons) {
    size_t n = 0;
    while (n < rest_.size() && IsNameChar(rest_[n]) &&
           (colons || rest_[n] != ':')) {
      ++n;
    }
    if (n == 0 || (rest_[0] >= '0' && rest_[0] <= '9')) return false;
    name->assign(rest_.substr(0, n));
    rest_.remove_prefix(n);
    return true;
  }
  // A quoted label value with its three escapes.
  bool Quoted(std::string* value) {
    if (!Take('"')) return false;
    value->clear();
    while (!rest_.empty()) {
      const char c = rest_[0];
      rest_.remove_prefix(1);
      if (c == '"') return true;
      if (c != '\\') {
        value->push_back(c);
        continue;
      }
      if (rest_.empty()) return false;
      const char escaped = rest_[0];
      rest_.remove_prefix(1);
      if (escaped == 'n') {
        value->push_back('\n');
      } else if (escaped == '\\' || escaped == '"') {
        value->push_back(escaped);
      } else {
        return false;
      }
    }
    return false;
  }
  bool Word(std::string_view* word) {
    size_t n = 0;
    while (n < rest_.size() && rest_[n] != ' ' && rest_[n] != '\t') ++n;
    if (n == 0) return false;
    *word = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return true;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

bool ParseValue(std::string_view word, double* value) {
  if (word == "+Inf" || word == "Inf") {
    *value = std::numeric_limits<double>::infinity();
    return true;
  }
  if (word == "-Inf") {
    *value = -std::numeric_limits<double>::infinity();
    return true;
  }
  if (word == "NaN") {
    *value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (!word.empty() && word[0] == '+') word.remove_prefix(1);
  const auto [end, error] =
      std::from_chars(word.data(), word.data() + word.size(), *value);
  return error == std::errc() && end == word.data() + word.size() &&
         std::isfinite(*value);
}

bool ParseTimestamp(std::string_view word) {
  long long stamp = 0;
  if (!word.empty() && word[0] == '-') word.remove_prefix(1);
  const auto [end, error] =
      std::from_chars(word.data(), word.data() + word.size(), stamp);
  return error == std::errc() && end == word.data() + word.size();
}

bool ParseLabels(LineReader& reader, MetricSample* sample) {
  if (!reader.Take('{')) return true;
  for (;;) {
    reader.SkipBlanks();
    if (reader.Take('}')) return true;
    if (sample->labels.size() == kMaxLabelsPerSample) return false;
    std::string key, value;
    if (!reader.Name(&key, false)) return false;
    reader.SkipBlanks();
    if (!reader.Take('=')) return false;
    reader.SkipBlanks();
    if (!reader.Quoted(&value)) return false;
    sample->labels.emplace_back(std::move(key), std::move(value));
    reader.SkipBlanks();
    if (reader.Take('}')) return true;
    if (!reader.Take(',')) return false;
  }
}

bool ParseSampleLine(std::string_view line, MetricSample* sample) {
  LineReader reader(line);
  reader.SkipBlanks();
  if (!reader.Name(&sample->name, true)) return false;
  reader.SkipBlanks();
  if (!ParseLabels(reader, sample)) return false;
  reader.SkipBlanks();
  std::string_view word;
  if (!reader.Word(&word) || !ParseValue(word, &sample->value)) return false;
  reader.SkipBlanks();
  if (reader.Word(&word) && !ParseTimestamp(word)) return false;
  reader.SkipBlanks();
  return reader.AtEnd();
}

// The metric name at the start of a sample line, to skip unwanted lines
// cheaply; the rest of a skipped line is still checked.
std::string_view LeadingName(std::string_view line) {
  size_t start = 0;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) {
    ++start;
  }
  size_t end = start;
  while (end < line.size() && IsNameChar(line[end])) ++end;
  return line.substr(start, end - start);
}

}  // namespace

std::string_view MetricSample::Label(std::string_view label) const {
  for (const auto& [key, value] : labels) {
    if (key == label) return value;
  }
  return {};
}

bool ParseExposition(std::string_view text,
                     const std::function<bool(std::string_view)>& keep,
                     std::vector<MetricSample>* samples) {
  samples->clear();
  MetricSample scratch;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size()
                                                         : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) {
      samples->clear();
      return false;
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    scratch.labels.clear();
    if (!ParseSampleLine(line, &scratch)) {
      samples->clear();
      return false;
    }
    if (keep && !keep(LeadingName(line))) continue;
    if (samples->size() == kMaxKeptSamples) {
      samples->clear();
      return false;
    }
    samples->push_back(scratch);
  }
  return true;
}

}  // namespace veska
