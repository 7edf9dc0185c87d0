// Performance counters read from the kernel's process-information files,
// answering the same counter paths, statuses and names as the desktop
// platform's counter service: per-processor busy time from "stat", the share
// of time with disk I/O in flight from "diskstats", memory from "meminfo".
//
// Processor instance n is the n-th online processor as "stat" lists them, so
// that instances 0 .. ProcessorCount() - 1 all exist even when processors in
// between are offline.
#ifndef VESKA_MONITOR_LINUX_PROC_COUNTER_LIBRARY_H_
#define VESKA_MONITOR_LINUX_PROC_COUNTER_LIBRARY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/counter_library.h"

namespace veska {

class ProcCounterLibrary : public CounterLibrary {
 public:
  // Nanoseconds on a steady clock; only differences are used.
  using Clock = std::function<int64_t()>;

  // Whole disks taken into the disk figure, at most.
  static constexpr size_t kMaxDisks = 64;

  // Where the files are read from: the kernel's, or text a fuzzer feeds in.
  // One file is open at a time.
  class FileSource {
   public:
    virtual ~FileSource() = default;
    virtual bool Open(const std::string& path) = 0;
    // Up to `bytes` into `to`: the count read, 0 at the end, negative on a
    // failure.
    virtual long Read(char* to, size_t bytes) = 0;
    virtual void Close() = 0;
  };

  // `root` is the folder holding "stat", "diskstats" and "meminfo"; a test
  // points it at copies. Without a clock, the steady clock is used; without
  // `files`, the files themselves are read (`files` outlives the library).
  // A file that cannot be read is told once on `messages` (again only after
  // it has been read in between).
  explicit ProcCounterLibrary(std::string root = "/proc", Clock clock = {},
                              FileSource* files = nullptr,
                              std::FILE* messages = stderr);
  ~ProcCounterLibrary() override;

  int32_t OpenQuery(std::uintptr_t user_data, CounterQuery* query) override;
  int32_t AddCounter(CounterQuery query, const std::string& path,
                     std::uintptr_t user_data, CounterHandle* counter) override;
  int32_t CollectQueryData(CounterQuery query) override;
  int32_t GetFormattedCounterValue(CounterHandle counter, uint32_t format,
                                   FormattedCounterValue* value) override;
  int32_t CloseQuery(CounterQuery query) override;
  bool HasNameLookup() const override { return true; }
  int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                uint32_t* buffer_chars) override;
  // The processors listed in "stat" (the online ones); the system's count of
  // online processors when that cannot be read.
  uint32_t ProcessorCount() override;
  bool GetMemoryStatus(MemoryStatus* status) override;

  // Whether a device named so in "diskstats" counts as a whole disk, given
  // the whole disks listed before it (partitions follow their disk).
  static bool IsWholeDisk(std::string_view name,
                          std::span<const std::string_view> disks_before);

 private:
  struct CpuTimes {
    uint64_t busy = 0;
    uint64_t total = 0;
    bool present = false;
  };
  struct DiskTicks {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint64_t io_ticks = 0;  // ms
  };
  struct DiskSnapshot {
    std::array<DiskTicks, kMaxDisks> disks;
    size_t count = 0;
    int64_t time_ns = 0;
  };
  struct Counter {
    size_t query = 0;  // index into queries_
    int cpu = -1;      // -1 for the disk counter
    bool valid_before = false;
    bool valid_now = false;
    CpuTimes cpu_before, cpu_now;
    std::unique_ptr<DiskSnapshot> disk_before, disk_now;
  };
  struct Query {
    bool open = false;
    std::vector<size_t> counters;  // indices into counters_
    std::vector<CpuTimes> cpus;    // by instance, for the last read
    bool has_disk = false;
  };

  Query* FindQuery(CounterQuery query);
  Counter* FindCounter(CounterHandle counter);
  bool ReadCpuTimes(std::vector<CpuTimes>& cpus);
  bool ReadDiskTicks(DiskSnapshot& snapshot);
  int FindProcessorCount();
  // Returns `read`, telling of a file that has just become unreadable.
  bool NoteRead(bool read, const std::string& path, bool& unreadable);

  std::string stat_path_;
  std::string diskstats_path_;
  std::string meminfo_path_;
  Clock clock_;
  std::unique_ptr<FileSource> own_files_;
  FileSource* files_;
  std::FILE* messages_;
  bool stat_unreadable_ = false;
  bool diskstats_unreadable_ = false;
  bool meminfo_unreadable_ = false;
  std::unique_ptr<char[]> buffer_;  // made once, shared by every read
  std::unique_ptr<DiskSnapshot> disk_scratch_;
  std::vector<Query> queries_;
  std::vector<Counter> counters_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_PROC_COUNTER_LIBRARY_H_
