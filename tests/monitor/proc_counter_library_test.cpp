#include "monitor/linux/proc_counter_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <thread>

#include "monitor/load_sampling.h"
#include "temp_folder.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

const std::string kDisk = "\\LogicalDisk(_Total)\\% Disk Time";
std::string Core(int n) {
  return "\\Processor(" + std::to_string(n) + ")\\% Processor Time";
}

fs::path FixtureDir() {
  const char* source = std::getenv("VESKA_SOURCE_DIR");
  return fs::path(source != nullptr ? source : VESKA_TEST_SOURCE_DIR) /
         "tests" / "monitor" / "fixtures";
}

// A folder standing in for /proc, filled from the checked-in copies taken at
// two moments, on a clock the test moves.
class ProcFixtureTest : public ::testing::Test {
 protected:
  ProcFixtureTest() {
    Moment(1);
    fs::copy_file(FixtureDir() / "meminfo", root_ / "meminfo");
  }

  void Moment(int n) {
    for (const char* name : {"stat", "diskstats"}) {
      fs::copy_file(
          FixtureDir() / (std::string(name) + "." + std::to_string(n)),
          root_ / name, fs::copy_options::overwrite_existing);
    }
  }
  void Write(const std::string& name, const std::string& text) {
    testing::WriteFile(root_ / name, text);
  }

  CounterHandle Add(CounterQuery query, const std::string& path) {
    CounterHandle counter = 77;
    EXPECT_EQ(library_.AddCounter(query, path, 0, &counter), kCounterOk)
        << path;
    EXPECT_NE(counter, 0u);
    return counter;
  }
  CounterQuery Open() {
    CounterQuery query = 0;
    EXPECT_EQ(library_.OpenQuery(1, &query), kCounterOk);
    return query;
  }
  double Read(CounterHandle counter, uint32_t format = kFormatDouble) {
    FormattedCounterValue value{-1, -1.0};
    EXPECT_EQ(library_.GetFormattedCounterValue(counter, format, &value),
              kCounterOk);
    EXPECT_EQ(value.status, kCounterOk);
    return value.value;
  }
  // Collects at moment 1 and, `ms` later, at moment 2.
  void CollectBothMoments(CounterQuery query, int64_t ms = 1000) {
    ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
    Moment(2);
    now_ns_ += ms * 1000000;
    ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  }

  testing::TempFolder temp_;
  fs::path root_ = temp_.path();
  int64_t now_ns_ = 5000000000;
  ProcCounterLibrary library_{root_.string(), [this] { return now_ns_; }};
};

TEST_F(ProcFixtureTest, NamesTheFourIndicesOnly) {
  const std::pair<uint32_t, std::string> names[] = {{238, "Processor"},
                                                    {6, "% Processor Time"},
                                                    {236, "LogicalDisk"},
                                                    {200, "% Disk Time"}};
  for (const auto& [index, name] : names) {
    std::array<char, 261> buffer{};
    uint32_t chars = 260;
    EXPECT_EQ(library_.LookupPerfNameByIndex(index, buffer.data(), &chars),
              kCounterOk);
    EXPECT_EQ(std::string(buffer.data()), name);
  }
  for (uint32_t index : {0u, 2u, 237u, 1000u}) {
    std::array<char, 8> buffer = {'u', 'n', 't', 'o', 'u', 'c', 'h', 0};
    uint32_t chars = 8;
    EXPECT_NE(library_.LookupPerfNameByIndex(index, buffer.data(), &chars),
              kCounterOk);
    EXPECT_EQ(std::string(buffer.data()), "untouch");
  }
  // Too small a buffer is left alone and told the size needed.
  std::array<char, 4> small = {'a', 'b', 'c', 0};
  uint32_t chars = 4;
  EXPECT_NE(library_.LookupPerfNameByIndex(238, small.data(), &chars),
            kCounterOk);
  EXPECT_EQ(chars, 10u);
  EXPECT_EQ(std::string(small.data()), "abc");
}

TEST_F(ProcFixtureTest, AddsOnlyTheTwoKindsOfPath) {
  EXPECT_EQ(library_.ProcessorCount(), 3u);  // cpu0, cpu1, cpu3
  const CounterQuery query = Open();
  for (int n = 0; n < 3; ++n) Add(query, Core(n));
  Add(query, kDisk);
  const std::string rejected[] = {
      Core(3),
      "\\Processor(01)\\% Processor Time",
      "\\Processor(-1)\\% Processor Time",
      "\\Processor(_Total)\\% Processor Time",
      "\\Processor(99999999999999999999)\\% Processor Time",
      "\\Processor(0)\\% Idle Time",
      "\\Processor(0)\\% Processor Time ",
      "\\LogicalDisk(C:)\\% Disk Time",
      "",
  };
  for (const std::string& path : rejected) {
    CounterHandle counter = 77;
    EXPECT_NE(library_.AddCounter(query, path, 0, &counter), kCounterOk)
        << path;
    EXPECT_EQ(counter, 0u) << path;
  }
  CounterHandle counter = 77;
  EXPECT_NE(library_.AddCounter(0, Core(0), 0, &counter), kCounterOk);
  EXPECT_EQ(counter, 0u);
  EXPECT_NE(library_.AddCounter(query + 5, Core(0), 0, &counter), kCounterOk);
  EXPECT_EQ(library_.CloseQuery(query), kCounterOk);
  EXPECT_NE(library_.AddCounter(query, Core(0), 0, &counter), kCounterOk);
  EXPECT_EQ(counter, 0u);
}

TEST_F(ProcFixtureTest, NoValidDataBeforeTheSecondCollection) {
  const CounterQuery query = Open();
  const CounterHandle core = Add(query, Core(0));
  const CounterHandle disk = Add(query, kDisk);
  for (int collections = 0; collections < 2; ++collections) {
    for (CounterHandle counter : {core, disk}) {
      FormattedCounterValue value{kCounterOk, 5.5};
      EXPECT_EQ(
          library_.GetFormattedCounterValue(counter, kFormatDouble, &value),
          kCounterInvalidData);
      EXPECT_EQ(value.status, kCounterInvalidData);
      EXPECT_EQ(value.value, 5.5);
    }
    EXPECT_EQ(library_.CollectQueryData(query), kCounterOk);
  }
  Moment(2);
  now_ns_ += 1000000000;
  EXPECT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_GT(Read(core), 0.0);
}

TEST_F(ProcFixtureTest, ProcessorLoadIsTheBusyShareOfItsTime) {
  const CounterQuery query = Open();
  const CounterHandle cpu0 = Add(query, Core(0));
  const CounterHandle cpu1 = Add(query, Core(1));
  const CounterHandle cpu3 = Add(query, Core(2));  // the third listed
  CollectBothMoments(query);
  // Idle and iowait are idle; guest is already inside user.
  EXPECT_DOUBLE_EQ(Read(cpu0), 80.0 / 200.0 * 100.0);
  EXPECT_DOUBLE_EQ(Read(cpu1), 190.0 / 240.0 * 100.0);
  EXPECT_EQ(Read(cpu3), 0.0);  // no time passed for it at all
}

TEST_F(ProcFixtureTest, ProcessorCountsRunningBackwardsReadZero) {
  const CounterQuery query = Open();
  const CounterHandle cpu0 = Add(query, Core(0));
  Moment(2);
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  Moment(1);
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_EQ(Read(cpu0), 0.0);
}

TEST_F(ProcFixtureTest, ProcessorGoneOfflineHasNoValidData) {
  const CounterQuery query = Open();
  const CounterHandle third = Add(query, Core(2));
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  Write("stat", "cpu  1 1 1 1\ncpu0 1 1 1 1\ncpu1 1 1 1 1\nintr 1\n");
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  FormattedCounterValue value;
  EXPECT_EQ(library_.GetFormattedCounterValue(third, kFormatDouble, &value),
            kCounterInvalidData);
}

TEST_F(ProcFixtureTest, DiskTimeIsAveragedOverWholeDisks) {
  const CounterQuery query = Open();
  const CounterHandle disk = Add(query, kDisk);
  CollectBothMoments(query, 1000);
  // sda +300 ms, sdb idle, nvme0n1 +290 ms; partitions, loop, zram, dm and sr
  // devices are left out.
  EXPECT_DOUBLE_EQ(Read(disk), 590.0 / 3.0 / 1000.0 * 100.0);
}

TEST_F(ProcFixtureTest, DiskTimeIsCappedUnlessAskedNotTo) {
  const CounterQuery query = Open();
  const CounterHandle disk = Add(query, kDisk);
  CollectBothMoments(query, 100);
  EXPECT_EQ(Read(disk), 100.0);
  EXPECT_DOUBLE_EQ(Read(disk, kFormatDouble | kFormatNoCap100),
                   590.0 / 3.0 / 100.0 * 100.0);
}

TEST_F(ProcFixtureTest, DiskCountsOnlyDisksSeenAtBothCollections) {
  const CounterQuery query = Open();
  const CounterHandle disk = Add(query, kDisk);
  Write("diskstats", "8 0 sda 0 0 0 0 0 0 0 0 0 4294967000 0\n");
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  // sda's 32-bit count wrapped; sdc came in between and is not counted yet.
  Write("diskstats",
        "8 0 sda 0 0 0 0 0 0 0 0 0 200 0\n"
        "8 32 sdc 0 0 0 0 0 0 0 0 0 900000 0\n");
  now_ns_ += 1000000000;
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_DOUBLE_EQ(Read(disk), 496.0 / 1000.0 * 100.0);
}

TEST_F(ProcFixtureTest, NoDiskAtAllStillAddsAndReadsZero) {
  Write("diskstats",
        "7 0 loop0 1 0 0 0 0 0 0 0 0 50 0\n11 0 sr0 0 0 0 0 0 0 0 0 0 0 0\n");
  const CounterQuery query = Open();
  const CounterHandle disk = Add(query, kDisk);
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  now_ns_ += 1000000000;
  ASSERT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_EQ(Read(disk), 0.0);
}

TEST_F(ProcFixtureTest, AnUnreadableCollectionNeedsTwoGoodOnesAgain) {
  const CounterQuery query = Open();
  const CounterHandle disk = Add(query, kDisk);
  CollectBothMoments(query);
  fs::remove(root_ / "diskstats");
  EXPECT_NE(library_.CollectQueryData(query), kCounterOk);
  FormattedCounterValue value;
  EXPECT_EQ(library_.GetFormattedCounterValue(disk, kFormatDouble, &value),
            kCounterInvalidData);
  Moment(1);
  EXPECT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_EQ(library_.GetFormattedCounterValue(disk, kFormatDouble, &value),
            kCounterInvalidData);
  EXPECT_EQ(library_.CollectQueryData(query), kCounterOk);
  EXPECT_EQ(library_.GetFormattedCounterValue(disk, kFormatDouble, &value),
            kCounterOk);
}

TEST_F(ProcFixtureTest, AnUnreadableFileIsToldOnceUntilItIsReadAgain) {
  std::FILE* messages = std::tmpfile();
  ASSERT_NE(messages, nullptr);
  ProcCounterLibrary library(
      root_.string(), [this] { return now_ns_; }, nullptr, messages);
  CounterQuery query = 0;
  ASSERT_EQ(library.OpenQuery(1, &query), kCounterOk);
  CounterHandle counter = 0;
  ASSERT_EQ(library.AddCounter(query, kDisk, 0, &counter), kCounterOk);
  ASSERT_EQ(library.AddCounter(query, Core(0), 0, &counter), kCounterOk);
  MemoryStatus memory;
  auto sample = [&] {
    library.CollectQueryData(query);
    library.GetMemoryStatus(&memory);
  };
  sample();
  fs::remove(root_ / "diskstats");
  fs::remove(root_ / "meminfo");
  for (int i = 0; i < 3; ++i) sample();
  Moment(2);  // diskstats is back; meminfo is not
  sample();
  fs::remove(root_ / "diskstats");
  fs::remove(root_ / "stat");
  for (int i = 0; i < 3; ++i) sample();

  std::rewind(messages);
  std::string told;
  for (int c; (c = std::fgetc(messages)) != EOF;) told.push_back(char(c));
  std::fclose(messages);
  auto line = [&](const char* name) {
    return "Can't read " + (root_ / name).string() +
           "; its loads read as 0 until it can.\n";
  };
  EXPECT_EQ(told, line("diskstats") + line("meminfo") + line("stat") +
                      line("diskstats"));
}

TEST_F(ProcFixtureTest, BadHandlesAndArgumentsAreRefused) {
  const CounterQuery query = Open();
  const CounterHandle core = Add(query, Core(0));
  CollectBothMoments(query);
  FormattedCounterValue value;
  EXPECT_EQ(library_.GetFormattedCounterValue(0, kFormatDouble, &value),
            kCounterInvalidHandle);
  EXPECT_EQ(library_.GetFormattedCounterValue(core + 1, kFormatDouble, &value),
            kCounterInvalidHandle);
  EXPECT_EQ(library_.GetFormattedCounterValue(core, 0, &value),
            kCounterInvalidArgument);
  EXPECT_EQ(library_.GetFormattedCounterValue(core, kFormatDouble, nullptr),
            kCounterInvalidArgument);
  EXPECT_EQ(library_.OpenQuery(0, nullptr), kCounterInvalidArgument);
  EXPECT_EQ(library_.CollectQueryData(Open()), kCounterNoData);  // empty

  EXPECT_EQ(library_.CloseQuery(query), kCounterOk);
  EXPECT_EQ(library_.CloseQuery(query), kCounterInvalidHandle);
  EXPECT_EQ(library_.CollectQueryData(query), kCounterInvalidHandle);
  EXPECT_EQ(library_.GetFormattedCounterValue(core, kFormatDouble, &value),
            kCounterInvalidHandle);
}

TEST_F(ProcFixtureTest, MemoryIsTotalAndAvailableInBytes) {
  MemoryStatus memory;
  ASSERT_TRUE(library_.GetMemoryStatus(&memory));
  EXPECT_EQ(memory.total_physical, 16384000ull * 1024);
  EXPECT_EQ(memory.available_physical, 4096000ull * 1024);

  // A line longer than any buffer is skipped, not read past.
  Write("meminfo", "Junk: " + std::string(100000, '7') +
                       "\nMemAvailable: 2 kB\nMemTotal: 8 kB");
  ASSERT_TRUE(library_.GetMemoryStatus(&memory));
  EXPECT_EQ(memory.total_physical, 8192u);
  EXPECT_EQ(memory.available_physical, 2048u);

  for (const char* broken :
       {"MemTotal: 8 kB\n", "MemTotal: x kB\nMemAvailable: 2 kB\n", ""}) {
    Write("meminfo", broken);
    EXPECT_FALSE(library_.GetMemoryStatus(&memory)) << broken;
  }
  fs::remove(root_ / "meminfo");
  EXPECT_FALSE(library_.GetMemoryStatus(&memory));
  EXPECT_FALSE(library_.GetMemoryStatus(nullptr));
}

TEST(WholeDiskTest, PartitionsAndStackedDevicesAreLeftOut) {
  struct Case {
    std::string_view name;
    std::vector<std::string_view> before;
    bool whole;
  };
  const Case cases[] = {
      {"sda", {}, true},
      {"sda1", {"sda"}, false},
      {"sda15", {"sda"}, false},
      {"sdb", {"sda"}, true},
      {"sdaa", {"sda"}, true},
      {"nvme0n1", {}, true},
      {"nvme0n1p2", {"nvme0n1"}, false},
      {"nvme0n10", {"nvme0n1"}, true},
      {"nvme0n12", {"nvme0n1"}, true},
      {"mmcblk0p1", {"mmcblk0"}, false},
      {"mmcblk0boot0", {"mmcblk0"}, false},
      {"mmcblk01", {"mmcblk0"}, true},
      {"vda", {"sda", "vd"}, true},
      {"loop0", {}, false},
      {"ram0", {}, false},
      {"zram0", {}, false},
      {"dm-2", {}, false},
      {"md127", {}, false},
      {"sr0", {}, false},
      {"nbd3", {}, false},
      {"", {}, false},
      {std::string_view("abcdefghijklmnopqrstuvwxyzabcdefg"), {}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProcCounterLibrary::IsWholeDisk(c.name, c.before), c.whole)
        << c.name;
  }
}

// Sampling as the program does it, over the fixture copies.
TEST_F(ProcFixtureTest, SamplingOverTheFixtures) {
  MonitorState state;
  ASSERT_EQ(SetUpDiskCounter(state, library_), 1);
  ASSERT_EQ(SetUpCpuCounters(state, library_), 1);
  EXPECT_EQ(state.LastCoreIndex, 2);
  EXPECT_EQ(state.CpuCounters.size(), 3u);

  SampleRAMLoad(state, library_);
  SampleCpuLoads(state, library_);
  SampleDiskLoad(state, library_);
  EXPECT_EQ(state.CoreLoads, std::vector<double>(3, 0.0));
  EXPECT_EQ(state.DiskLoad, 0.0);
  Moment(2);
  now_ns_ += 500000000;
  SampleCpuLoads(state, library_);
  SampleDiskLoad(state, library_);
  UpdateCpuAverage(state);

  EXPECT_EQ(state.RAMLoad, 75.0f);
  EXPECT_DOUBLE_EQ(state.CoreLoads[0], 40.0);
  EXPECT_DOUBLE_EQ(state.CoreLoads[1], 190.0 / 240.0 * 100.0);
  EXPECT_EQ(state.CoreLoads[2], 0.0);
  EXPECT_EQ(state.CpuAverage, 39);  // 40, 119, 119; 119 / 3
  EXPECT_DOUBLE_EQ(state.DiskLoad, 590.0 / 3.0 / 500.0 * 100.0);
}

// The same service over this machine's own files.
TEST(RealProcTest, AnswersForThisMachine) {
  ProcCounterLibrary library;
  const uint32_t processors = library.ProcessorCount();
  EXPECT_EQ(processors, static_cast<uint32_t>(::sysconf(_SC_NPROCESSORS_ONLN)));

  CounterQuery query = 0;
  ASSERT_EQ(library.OpenQuery(1, &query), kCounterOk);
  std::vector<CounterHandle> cores;
  for (uint32_t n = 0; n < processors; ++n) {
    CounterHandle counter = 0;
    ASSERT_EQ(library.AddCounter(query, Core(static_cast<int>(n)), 0, &counter),
              kCounterOk);
    cores.push_back(counter);
  }
  CounterHandle missing = 77;
  EXPECT_NE(library.AddCounter(query, Core(static_cast<int>(processors)), 0,
                               &missing),
            kCounterOk);
  EXPECT_EQ(missing, 0u);
  CounterHandle disk = 0;
  ASSERT_EQ(library.AddCounter(query, kDisk, 0, &disk), kCounterOk);

  ASSERT_EQ(library.CollectQueryData(query), kCounterOk);
  // Keep this thread busy for a while so the processors have work to show.
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  volatile uint64_t spins = 0;
  while (std::chrono::steady_clock::now() < until) spins = spins + 1;
  ASSERT_EQ(library.CollectQueryData(query), kCounterOk);

  double total = 0.0;
  for (CounterHandle counter : cores) {
    FormattedCounterValue value;
    ASSERT_EQ(library.GetFormattedCounterValue(counter, kFormatDouble, &value),
              kCounterOk);
    EXPECT_GE(value.value, 0.0);
    EXPECT_LE(value.value, 100.0);
    total += value.value;
  }
  // One busy thread is at least half of one processor, wherever it ran.
  EXPECT_GE(total, 50.0);
  FormattedCounterValue value;
  ASSERT_EQ(library.GetFormattedCounterValue(disk, kFormatDouble, &value),
            kCounterOk);
  EXPECT_GE(value.value, 0.0);
  EXPECT_LE(value.value, 100.0);

  MemoryStatus memory;
  ASSERT_TRUE(library.GetMemoryStatus(&memory));
  const double physical = static_cast<double>(::sysconf(_SC_PHYS_PAGES)) *
                          static_cast<double>(::sysconf(_SC_PAGESIZE));
  EXPECT_NEAR(static_cast<double>(memory.total_physical), physical,
              physical * 0.01);
  EXPECT_GT(memory.available_physical, 0u);
  EXPECT_LE(memory.available_physical, memory.total_physical);
}

}  // namespace
}  // namespace veska
