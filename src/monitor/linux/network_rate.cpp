#include "monitor/linux/network_rate.h"

#include <charconv>

namespace veska {
namespace {

// Enough for hundreds of interfaces; a longer file is read no further.
constexpr std::size_t kFileLimit = 256 * 1024;
// "net/dev" gives 8 received figures, then 8 sent ones; bytes come first.
constexpr int kSentBytesField = 8;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The bytes received and sent on one interface's line, or none when the
// line is not one ("Inter-|" headers, a cut last line).
std::optional<uint64_t> LineBytes(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  if (Trimmed(line.substr(0, colon)) == "lo") return uint64_t{0};
  std::string_view rest = line.substr(colon + 1);
  uint64_t bytes = 0;
  for (int field = 0; field <= kSentBytesField; ++field) {
    rest = Trimmed(rest);
    uint64_t value = 0;
    const auto [next, error] =
        std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc()) return std::nullopt;
    if (field == 0 || field == kSentBytesField) bytes += value;
    rest.remove_prefix(static_cast<std::size_t>(next - rest.data()));
  }
  return bytes;
}

}  // namespace

NetworkRate::NetworkRate(const std::string& proc_root, std::FILE* messages)
    : path_(proc_root + "/net/dev"), notice_(messages) {}

std::optional<uint64_t> NetworkRate::TotalBytes(std::string_view text) {
  std::optional<uint64_t> total;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (const auto bytes = LineBytes(text.substr(0, end))) {
      total = total.value_or(0) + *bytes;
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return total;
}

void NetworkRate::Prepare(int64_t now_ns) {
  have_total_ = false;
  rate_ = 0.0;
  notice_.Reset();
  Read(now_ns);
}

ResourceReading NetworkRate::Read(int64_t now_ns) {
  const std::optional<std::string> text = ReadSmallFile(path_, kFileLimit);
  const std::optional<uint64_t> total = text ? TotalBytes(*text) : std::nullopt;
  if (!notice_.Note(total.has_value(),
                    "no network figures in " + path_ +
                        "; the network element stays silent")) {
    have_total_ = false;
    return {};
  }
  if (have_total_ && now_ns > time_ns_) {
    // Totals that fall (an interface gone, a counter reset) are no traffic.
    const uint64_t moved = *total >= total_ ? *total - total_ : 0;
    rate_ = static_cast<double>(moved) * 1e9 /
            static_cast<double>(now_ns - time_ns_);
  } else if (!have_total_) {
    rate_ = 0.0;
  }
  if (!have_total_ || now_ns > time_ns_) {
    total_ = *total;
    time_ns_ = now_ns;
  }
  have_total_ = true;
  return {true, rate_, true};
}

}  // namespace veska
