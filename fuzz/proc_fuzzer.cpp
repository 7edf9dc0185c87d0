// The /proc parsers: "stat", "diskstats" and "meminfo" text of any shape,
// handed over in pieces of any size, read twice as two collections; every
// value that reads is a finite percentage.
//
// Input: stat, diskstats, meminfo, second stat, second diskstats and the
// sizes of the pieces reads return (one byte each), separated by NUL bytes,
// which the kernel's text never holds. Missing parts are empty files.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/linux/proc_counter_library.h"

namespace {

using veska::ProcCounterLibrary;

class TextFiles : public ProcCounterLibrary::FileSource {
 public:
  std::string_view stat, diskstats, meminfo, pieces;

  bool Open(const std::string& path) override {
    std::string_view name(path);
    name.remove_prefix(name.rfind('/') + 1);
    if (name == "stat") {
      rest_ = stat;
    } else if (name == "diskstats") {
      rest_ = diskstats;
    } else if (name == "meminfo") {
      rest_ = meminfo;
    } else {
      return false;
    }
    piece_ = 0;
    return true;
  }

  long Read(char* to, size_t bytes) override {
    size_t n = std::min(bytes, rest_.size());
    if (!pieces.empty()) {
      n = std::min<size_t>(
          n, static_cast<uint8_t>(pieces[piece_++ % pieces.size()]) + 1u);
    }
    rest_.copy(to, n);
    rest_.remove_prefix(n);
    return static_cast<long>(n);
  }

  void Close() override { rest_ = {}; }

 private:
  std::string_view rest_;
  size_t piece_ = 0;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string_view> parts;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (parts.size() < 5) {
    const size_t end = input.find('\0');
    parts.push_back(input.substr(0, end));
    if (end == std::string_view::npos) {
      input = {};
    } else {
      input.remove_prefix(end + 1);
    }
  }
  TextFiles files;
  files.stat = parts[0];
  files.diskstats = parts[1];
  files.meminfo = parts[2];
  files.pieces = input;

  int64_t now_ns = 0;
  ProcCounterLibrary library(
      "/proc", [&now_ns] { return now_ns; }, &files, nullptr);
  library.ProcessorCount();
  veska::MemoryStatus memory;
  library.GetMemoryStatus(&memory);

  veska::CounterQuery query = 0;
  Check(library.OpenQuery(0, &query) == veska::kCounterOk);
  std::vector<veska::CounterHandle> counters;
  for (const char* path :
       {"\\Processor(0)\\% Processor Time", "\\Processor(3)\\% Processor Time",
        "\\LogicalDisk(_Total)\\% Disk Time"}) {
    veska::CounterHandle counter = 0;
    if (library.AddCounter(query, path, 0, &counter) == veska::kCounterOk) {
      counters.push_back(counter);
    }
  }
  library.CollectQueryData(query);
  files.stat = parts[3];
  files.diskstats = parts[4];
  now_ns += 1000000000;
  library.CollectQueryData(query);

  for (veska::CounterHandle counter : counters) {
    veska::FormattedCounterValue capped;
    if (library.GetFormattedCounterValue(counter, veska::kFormatDouble,
                                         &capped) == veska::kCounterOk) {
      Check(std::isfinite(capped.value) && capped.value >= 0.0 &&
            capped.value <= 100.0);
    }
    veska::FormattedCounterValue raw;
    if (library.GetFormattedCounterValue(
            counter, veska::kFormatDouble | veska::kFormatNoCap100, &raw) ==
        veska::kCounterOk) {
      Check(std::isfinite(raw.value) && raw.value >= 0.0);
    }
  }
  library.CloseQuery(query);
  return 0;
}
