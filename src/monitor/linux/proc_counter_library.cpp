#include "monitor/linux/proc_counter_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

namespace veska {

namespace {

// Big enough for every line we parse; longer lines (the interrupt list of
// "stat") are skipped, never read past.
constexpr size_t kBufferSize = 16 * 1024;
constexpr size_t kDiskNameMax = 32;
// Processor instances beyond this are not looked for.
constexpr uint32_t kMaxProcessorNumber = 1 << 16;

constexpr std::string_view kProcessorPrefix = "\\Processor(";
constexpr std::string_view kProcessorSuffix = ")\\% Processor Time";
constexpr std::string_view kDiskPath = "\\LogicalDisk(_Total)\\% Disk Time";

// Devices that are not disks of their own: memory and file-backed devices,
// and the mapped, RAID and network layers whose I/O already shows on the
// disks beneath them; optical and floppy drives, idle nearly always, would
// only dilute the average.
constexpr std::string_view kNotDisks[] = {"loop", "ram", "zram", "dm-",
                                          "md",   "nbd", "sr",   "fd"};

// The files as the kernel gives them.
class KernelFiles : public ProcCounterLibrary::FileSource {
 public:
  ~KernelFiles() override { Close(); }

  bool Open(const std::string& path) override {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
  }

  long Read(char* to, size_t bytes) override {
    ssize_t got = 0;
    do {
      got = ::read(fd_, to, bytes);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Calls `on_line` with each line of the file that fits the buffer, until it
// returns false. False when the file cannot be opened or read.
template <typename OnLine>
bool ForEachLine(ProcCounterLibrary::FileSource& files, const std::string& path,
                 char* buffer, OnLine on_line) {
  if (!files.Open(path)) return false;
  size_t filled = 0;
  bool skipping = false;  // inside a line longer than the buffer
  bool ok = true;
  bool stopped = false;
  while (!stopped) {
    const long got = files.Read(buffer + filled, kBufferSize - filled);
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) {
      if (filled > 0 && !skipping) on_line(std::string_view(buffer, filled));
      break;
    }
    filled += static_cast<size_t>(got);
    size_t start = 0;
    while (start < filled) {
      const void* newline = std::memchr(buffer + start, '\n', filled - start);
      if (newline == nullptr) break;
      const size_t end =
          static_cast<size_t>(static_cast<const char*>(newline) - buffer);
      if (skipping) {
        skipping = false;
      } else if (!on_line(std::string_view(buffer + start, end - start))) {
        stopped = true;
        break;
      }
      start = end + 1;
    }
    std::memmove(buffer, buffer + start, filled - start);
    filled -= start;
    if (filled == kBufferSize) {
      skipping = true;
      filled = 0;
    }
  }
  files.Close();
  return ok;
}

// Splits a line into fields separated by blanks.
class Fields {
 public:
  explicit Fields(std::string_view line) : rest_(line) {}

  bool Next(std::string_view* field) {
    const size_t start = rest_.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    rest_.remove_prefix(start);
    const size_t end = std::min(rest_.find_first_of(" \t"), rest_.size());
    *field = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return true;
  }

  template <typename Number>
  bool NextNumber(Number* value) {
    std::string_view field;
    if (!Next(&field)) return false;
    const auto [end, error] =
        std::from_chars(field.data(), field.data() + field.size(), *value);
    return error == std::errc() && end == field.data() + field.size();
  }

 private:
  std::string_view rest_;
};

// Whether a line of "stat" is one processor's ("cpu3 ..."), not the line of
// all processors ("cpu ...") or any other.
bool IsProcessorLine(std::string_view line) {
  return line.size() > 3 && line.starts_with("cpu") && line[3] >= '0' &&
         line[3] <= '9';
}

// Calls `on_processor` with each "cpuN" line of a stat file, until it
// returns false; the processor lines come first, after the all-processor
// line, so reading stops at the first other line after them.
template <typename OnProcessor>
bool ForEachProcessorLine(ProcCounterLibrary::FileSource& files,
                          const std::string& path, char* buffer,
                          OnProcessor on_processor) {
  bool first = true;
  return ForEachLine(files, path, buffer, [&](std::string_view line) {
    if (!IsProcessorLine(line)) {
      const bool keep_going = first;
      first = false;
      return keep_going;
    }
    first = false;
    return on_processor(line);
  });
}

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Differences of io_ticks, which older kernels print as 32-bit counts.
uint64_t TickDelta(uint64_t before, uint64_t now) {
  constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
  if (before <= kMax32 && now <= kMax32) {
    return static_cast<uint32_t>(now - before);
  }
  return now >= before ? now - before : 0;
}

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ProcCounterLibrary::ProcCounterLibrary(std::string root, Clock clock,
                                       FileSource* files, std::FILE* messages)
    : stat_path_(root + "/stat"),
      diskstats_path_(root + "/diskstats"),
      meminfo_path_(root + "/meminfo"),
      clock_(clock ? std::move(clock) : Clock(SteadyNanoseconds)),
      own_files_(files != nullptr ? nullptr : std::make_unique<KernelFiles>()),
      files_(files != nullptr ? files : own_files_.get()),
      messages_(messages),
      buffer_(new char[kBufferSize]),
      disk_scratch_(std::make_unique<DiskSnapshot>()) {}

ProcCounterLibrary::~ProcCounterLibrary() = default;

bool ProcCounterLibrary::IsWholeDisk(
    std::string_view name, std::span<const std::string_view> disks_before) {
  if (name.empty() || name.size() > kDiskNameMax) return false;
  for (std::string_view prefix : kNotDisks) {
    if (name.starts_with(prefix)) return false;
  }
  // The kernel names a partition after its disk, putting a "p" between when
  // the disk's name ends in a digit (nvme0n1p2, mmcblk0p1, but sda2).
  for (std::string_view disk : disks_before) {
    if (disk.empty() || name.size() <= disk.size() || !name.starts_with(disk)) {
      continue;
    }
    std::string_view suffix = name.substr(disk.size());
    const bool disk_ends_in_digit = disk.back() >= '0' && disk.back() <= '9';
    if (disk_ends_in_digit) {
      if (suffix.starts_with("p")) {
        suffix.remove_prefix(1);
      } else if (suffix.starts_with("boot")) {
        suffix.remove_prefix(4);
      } else {
        continue;
      }
    }
    if (AllDigits(suffix)) return false;
  }
  return true;
}

ProcCounterLibrary::Query* ProcCounterLibrary::FindQuery(CounterQuery query) {
  if (query == 0 || query > queries_.size()) return nullptr;
  Query& found = queries_[query - 1];
  return found.open ? &found : nullptr;
}

ProcCounterLibrary::Counter* ProcCounterLibrary::FindCounter(
    CounterHandle counter) {
  if (counter == 0 || counter > counters_.size()) return nullptr;
  Counter& found = counters_[counter - 1];
  return queries_[found.query].open ? &found : nullptr;
}

bool ProcCounterLibrary::NoteRead(bool read, const std::string& path,
                                  bool& unreadable) {
  // Once, not at every sample: a file that cannot be read stays so a while.
  if (!read && !unreadable && messages_ != nullptr) {
    std::fprintf(messages_,
                 "Can't read %s; its loads read as 0 until it can.\n",
                 path.c_str());
    std::fflush(messages_);
  }
  unreadable = !read;
  return read;
}

bool ProcCounterLibrary::ReadCpuTimes(std::vector<CpuTimes>& cpus) {
  for (CpuTimes& cpu : cpus) cpu.present = false;
  size_t position = 0;
  return ForEachProcessorLine(*files_, stat_path_, buffer_.get(),
                              [&](std::string_view line) {
                                const size_t instance = position++;
                                if (instance >= cpus.size()) return true;
                                Fields fields(line);
                                std::string_view label;
                                fields.Next(&label);
                                // user nice system idle iowait irq softirq
                                // steal; guest time is already inside user and
                                // nice. Older kernels print fewer fields.
                                uint64_t times[8] = {};
                                for (uint64_t& time : times) {
                                  if (!fields.NextNumber(&time)) break;
                                }
                                uint64_t total = 0;
                                for (uint64_t time : times) total += time;
                                const uint64_t idle = times[3] + times[4];
                                cpus[instance] = {total - idle, total, true};
                                return true;
                              });
}

bool ProcCounterLibrary::ReadDiskTicks(DiskSnapshot& snapshot) {
  snapshot.count = 0;
  // Names of the disks taken so far, to know their partitions.
  std::array<std::array<char, kDiskNameMax>, kMaxDisks> names;
  std::array<std::string_view, kMaxDisks> taken;
  return ForEachLine(
      *files_, diskstats_path_, buffer_.get(), [&](std::string_view line) {
        if (snapshot.count == kMaxDisks) return false;
        Fields fields(line);
        DiskTicks disk;
        std::string_view name;
        if (!fields.NextNumber(&disk.major) ||
            !fields.NextNumber(&disk.minor) || !fields.Next(&name)) {
          return true;
        }
        // io_ticks, the milliseconds with I/O in flight, is the tenth count.
        uint64_t count = 0;
        for (int i = 0; i < 10; ++i) {
          if (!fields.NextNumber(&count)) return true;
        }
        disk.io_ticks = count;
        if (!IsWholeDisk(name, std::span(taken.data(), snapshot.count))) {
          return true;
        }
        std::memcpy(names[snapshot.count].data(), name.data(), name.size());
        taken[snapshot.count] =
            std::string_view(names[snapshot.count].data(), name.size());
        snapshot.disks[snapshot.count++] = disk;
        return true;
      });
}

uint32_t ProcCounterLibrary::ProcessorCount() {
  uint32_t count = 0;
  const bool read = ForEachProcessorLine(*files_, stat_path_, buffer_.get(),
                                         [&](std::string_view) {
                                           ++count;
                                           return true;
                                         });
  if (read && count > 0) return count;
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 0;
}

bool ProcCounterLibrary::GetMemoryStatus(MemoryStatus* status) {
  if (status == nullptr) return false;
  uint64_t total_kib = 0;
  uint64_t available_kib = 0;
  bool have_total = false;
  bool have_available = false;
  const bool read = ForEachLine(
      *files_, meminfo_path_, buffer_.get(), [&](std::string_view line) {
        Fields fields(line);
        std::string_view key;
        if (!fields.Next(&key)) return true;
        if (key == "MemTotal:") {
          have_total = fields.NextNumber(&total_kib);
        } else if (key == "MemAvailable:") {
          have_available = fields.NextNumber(&available_kib);
        }
        return !(have_total && have_available);
      });
  NoteRead(read, meminfo_path_, meminfo_unreadable_);
  constexpr uint64_t kMaxKib = std::numeric_limits<uint64_t>::max() / 1024;
  if (!read || !have_total || !have_available || total_kib > kMaxKib ||
      available_kib > kMaxKib) {
    return false;
  }
  status->total_physical = total_kib * 1024;
  status->available_physical = available_kib * 1024;
  return true;
}

int32_t ProcCounterLibrary::OpenQuery(std::uintptr_t, CounterQuery* query) {
  if (query == nullptr) return kCounterInvalidArgument;
  queries_.emplace_back();
  queries_.back().open = true;
  *query = queries_.size();
  return kCounterOk;
}

int32_t ProcCounterLibrary::AddCounter(CounterQuery query,
                                       const std::string& path, std::uintptr_t,
                                       CounterHandle* counter) {
  if (counter == nullptr) return kCounterInvalidArgument;
  *counter = 0;
  Query* owner = FindQuery(query);
  if (owner == nullptr) return kCounterInvalidHandle;
  const std::string_view text = path;

  Counter added;
  added.query = query - 1;
  if (text == kDiskPath) {
    added.disk_before = std::make_unique<DiskSnapshot>();
    added.disk_now = std::make_unique<DiskSnapshot>();
    owner->has_disk = true;
  } else if (text.starts_with(kProcessorPrefix) &&
             text.ends_with(kProcessorSuffix) &&
             text.size() > kProcessorPrefix.size() + kProcessorSuffix.size()) {
    const std::string_view number = text.substr(
        kProcessorPrefix.size(),
        text.size() - kProcessorPrefix.size() - kProcessorSuffix.size());
    // Instances are written as the system writes them: no sign, no padding.
    if (!AllDigits(number) || (number.size() > 1 && number[0] == '0') ||
        number.size() > 5) {
      return kCounterNotFound;
    }
    uint32_t cpu = 0;
    std::from_chars(number.data(), number.data() + number.size(), cpu);
    if (cpu >= kMaxProcessorNumber) return kCounterNotFound;
    if (owner->cpus.size() <= cpu) owner->cpus.resize(cpu + 1);
    if (!ReadCpuTimes(owner->cpus) || !owner->cpus[cpu].present) {
      return kCounterNotFound;
    }
    added.cpu = static_cast<int>(cpu);
  } else {
    return kCounterNotFound;
  }
  counters_.push_back(std::move(added));
  owner->counters.push_back(counters_.size() - 1);
  *counter = counters_.size();
  return kCounterOk;
}

int32_t ProcCounterLibrary::CollectQueryData(CounterQuery query) {
  Query* owner = FindQuery(query);
  if (owner == nullptr) return kCounterInvalidHandle;
  if (owner->counters.empty()) return kCounterNoData;
  bool cpus_read = true;
  bool disks_read = true;
  if (!owner->cpus.empty()) {
    cpus_read =
        NoteRead(ReadCpuTimes(owner->cpus), stat_path_, stat_unreadable_);
  }
  if (owner->has_disk) {
    disks_read = NoteRead(ReadDiskTicks(*disk_scratch_), diskstats_path_,
                          diskstats_unreadable_);
    disk_scratch_->time_ns = clock_();
  }
  for (size_t index : owner->counters) {
    Counter& c = counters_[index];
    c.valid_before = c.valid_now;
    if (c.cpu >= 0) {
      c.cpu_before = c.cpu_now;
      c.cpu_now = owner->cpus[static_cast<size_t>(c.cpu)];
      c.valid_now = cpus_read && c.cpu_now.present;
    } else {
      std::swap(c.disk_before, c.disk_now);
      *c.disk_now = *disk_scratch_;
      c.valid_now = disks_read;
    }
  }
  return cpus_read && disks_read ? kCounterOk : kCounterNoData;
}

int32_t ProcCounterLibrary::GetFormattedCounterValue(
    CounterHandle counter, uint32_t format, FormattedCounterValue* value) {
  const Counter* c = FindCounter(counter);
  if (c == nullptr) return kCounterInvalidHandle;
  if (value == nullptr || (format & kFormatDouble) == 0) {
    return kCounterInvalidArgument;
  }
  if (!c->valid_before || !c->valid_now) {
    value->status = kCounterInvalidData;
    return kCounterInvalidData;
  }
  double percent = 0.0;
  if (c->cpu >= 0) {
    const CpuTimes& before = c->cpu_before;
    const CpuTimes& now = c->cpu_now;
    // Counts that run backwards (a processor taken off and back on) give
    // no busy time rather than a wrapped-around one.
    if (now.total > before.total && now.busy >= before.busy) {
      percent = static_cast<double>(now.busy - before.busy) /
                static_cast<double>(now.total - before.total) * 100.0;
    }
  } else {
    const DiskSnapshot& before = *c->disk_before;
    const DiskSnapshot& now = *c->disk_now;
    const double wall_ms =
        static_cast<double>(now.time_ns - before.time_ns) / 1e6;
    uint64_t ticks = 0;
    size_t disks = 0;
    // Only disks present at both collections count.
    for (size_t i = 0; i < now.count; ++i) {
      for (size_t j = 0; j < before.count; ++j) {
        if (now.disks[i].major == before.disks[j].major &&
            now.disks[i].minor == before.disks[j].minor) {
          ticks += TickDelta(before.disks[j].io_ticks, now.disks[i].io_ticks);
          ++disks;
          break;
        }
      }
    }
    if (disks > 0 && wall_ms > 0.0) {
      percent = static_cast<double>(ticks) / static_cast<double>(disks) /
                wall_ms * 100.0;
    }
  }
  if ((format & kFormatNoCap100) == 0) percent = std::min(percent, 100.0);
  value->status = kCounterOk;
  value->value = percent;
  return kCounterOk;
}

int32_t ProcCounterLibrary::CloseQuery(CounterQuery query) {
  Query* owner = FindQuery(query);
  if (owner == nullptr) return kCounterInvalidHandle;
  owner->open = false;
  return kCounterOk;
}

int32_t ProcCounterLibrary::LookupPerfNameByIndex(uint32_t index, char* buffer,
                                                  uint32_t* buffer_chars) {
  return LookupEnglishCounterName(index, buffer, buffer_chars);
}

}  // namespace veska
