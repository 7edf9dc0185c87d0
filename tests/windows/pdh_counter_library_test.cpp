// The PDH binding against the counter service it meets: Wine's own pdh.dll
// (WinePdh*: what it has and the exact failures of what it lacks, and the
// repair flow those failures lead to) and the stand-in beside the program
// (StandinPdh*: the whole set-up and sampling through the core). The runner
// says which one this copy of the program must have loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "monitor/counter_library.h"
#include "monitor/counter_paths.h"
#include "monitor/counter_repair.h"
#include "monitor/load_sampling.h"
#include "monitor/windows/pdh_counter_library.h"
#include "monitor/windows/processor_groups.h"
#include "shell/script/scripted_shell.h"
#include "wide_env.h"

namespace veska::testing {
namespace {

constexpr int32_t kNoCounter = static_cast<int32_t>(0xC0000BB9u);

// The folder of the pdh.dll this process has loaded.
std::string LoadedPdhFolder() {
  HMODULE pdh = GetModuleHandleW(L"pdh.dll");
  char path[MAX_PATH] = {};
  if (pdh == nullptr || GetModuleFileNameA(pdh, path, MAX_PATH) == 0) return "";
  std::string text(path);
  return text.substr(0, text.find_last_of('\\'));
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path);
  return text.substr(0, text.find_last_of('\\'));
}

class PdhTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* expected = std::getenv("VESKA_PDH_UNDER_TEST");
    ASSERT_NE(expected, nullptr) << "run through tests/windows/run.sh";
    ASSERT_TRUE(counters.IsLoaded()) << "pdh.dll did not load";
    const bool standin = LoadedPdhFolder() == ProgramFolder();
    ASSERT_EQ(standin, std::string(expected) == "standin")
        << "loaded pdh.dll from " << LoadedPdhFolder();
  }

  // A refused set-up is followed by the repair offer, as start-up does.
  static CounterRepairOutcome OfferRepair(ScriptedShell& shell) {
    const CounterRepairOutcome outcome = OfferCounterRepair(shell);
    EXPECT_EQ(shell.messages().size(), 1u);
    if (!shell.messages().empty()) {
      EXPECT_EQ(shell.messages()[0].title, "Failed to initialize counters");
    }
    return outcome;
  }

  PdhCounterLibrary counters;
  ScriptedShell shell;
  MonitorState state;
};

using WinePdh = PdhTest;
using StandinPdh = PdhTest;

TEST_F(WinePdh, LooksUpOnlyTheProcessorTimeName) {
  ASSERT_TRUE(counters.HasNameLookup());
  char buffer[64];
  std::memset(buffer, 'x', sizeof(buffer));
  uint32_t chars = sizeof(buffer);
  EXPECT_EQ(counters.LookupPerfNameByIndex(6, buffer, &chars), kCounterOk);
  EXPECT_STREQ(buffer, "% Processor Time");
  EXPECT_EQ(chars, 17u);

  // Too small a buffer: the size needed, the buffer untouched.
  std::memset(buffer, 'x', sizeof(buffer));
  chars = 5;
  EXPECT_EQ(counters.LookupPerfNameByIndex(6, buffer, &chars),
            kCounterMoreData);
  EXPECT_EQ(chars, 17u);
  EXPECT_EQ(buffer[0], 'x');

  for (uint32_t index : {238u, 236u, 234u, 200u}) {
    SCOPED_TRACE(index);
    chars = sizeof(buffer);
    EXPECT_EQ(counters.LookupPerfNameByIndex(index, buffer, &chars),
              kCounterInvalidArgument);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(buffer[sizeof(buffer) - 1], 'x');
  }
}

TEST_F(WinePdh, HasOnlyTheProcessorTotalWhichReadsZero) {
  CounterQuery query = 0;
  ASSERT_EQ(counters.OpenQuery(1, &query), kCounterOk);
  ASSERT_NE(query, 0u);
  for (const char* path :
       {"\\Processor(0)\\% Processor Time", "\\Processor(1)\\% Processor Time",
        "\\LogicalDisk(_Total)\\% Disk Time",
        "\\PhysicalDisk(_Total)\\% Disk Time"}) {
    SCOPED_TRACE(path);
    CounterHandle counter = 1234;
    EXPECT_EQ(counters.AddCounter(query, path, 0, &counter), kNoCounter);
    EXPECT_EQ(counter, 0u);
  }
  CounterHandle total = 0;
  ASSERT_EQ(counters.AddCounter(query, "\\Processor(_Total)\\% Processor Time",
                                0, &total),
            kCounterOk);
  // Wine's figure is a fixed placeholder, whatever the load: zero, or a
  // denormal a hair above it.
  for (int collection = 0; collection < 2; ++collection) {
    EXPECT_EQ(counters.CollectQueryData(query), kCounterOk);
    FormattedCounterValue value{0, 42.0};
    const int32_t status =
        counters.GetFormattedCounterValue(total, kFormatDouble, &value);
    std::printf("Wine's processor total after %d collection(s): 0x%08lx %g\n",
                collection + 1, static_cast<unsigned long>(status),
                value.value);
    if (status == kCounterOk) {
      EXPECT_GE(value.value, 0.0);
      EXPECT_LT(value.value, 1e-300);
    } else {
      EXPECT_EQ(status, kCounterInvalidData);
      EXPECT_EQ(value.value, 42.0);
    }
    Sleep(100);
  }
  EXPECT_EQ(counters.CloseQuery(query), kCounterOk);
}

// Wine's look-up fails for the object names, so the paths the core builds
// hold the untouched blank buffer, the service refuses them, and the
// program offers the repair: for the processors and for the disk alike.
TEST_F(WinePdh, CoreSetUpTakesTheRepairPath) {
  EXPECT_EQ(SetUpCpuCounters(state, counters), 0);
  shell.AnswerMessage(kAnswerNo);
  EXPECT_EQ(OfferRepair(shell), CounterRepairOutcome::kRepairDeclined);
  EXPECT_EQ(state.ProcessorObjectName, std::string(260, ' '));
  EXPECT_EQ(state.ProcessorTimeName, "% Processor Time");
  EXPECT_EQ(state.LastCpuCounter, 0u);

  ScriptedShell disk_shell;
  EXPECT_EQ(SetUpDiskCounter(state, counters), 0);
  disk_shell.AnswerMessage(kAnswerYes);
  EXPECT_EQ(OfferRepair(disk_shell), CounterRepairOutcome::kRepairChosen);
  RunElevated(disk_shell, kCounterRepairUtility, "");
  EXPECT_EQ(disk_shell.elevated(), std::vector<std::string>{"perfmend.exe"});
  EXPECT_EQ(state.DiskCounter, 0u);
}

TEST_F(WinePdh, ProcessorsAndMemoryMatchTheHost) {
  const char* cpus = std::getenv("VESKA_HOST_CPUS");
  const char* mem_kib = std::getenv("VESKA_HOST_MEM_KIB");
  ASSERT_TRUE(cpus && mem_kib) << "run through tests/windows/run.sh";
  EXPECT_EQ(counters.ProcessorCount(), std::strtoul(cpus, nullptr, 10));
  MemoryStatus memory;
  ASSERT_TRUE(counters.GetMemoryStatus(&memory));
  const double host = std::strtod(mem_kib, nullptr) * 1024;
  EXPECT_NEAR(static_cast<double>(memory.total_physical), host, host * 0.01);
  EXPECT_GT(memory.available_physical, 0u);
  EXPECT_LE(memory.available_physical, memory.total_physical);
}

TEST_F(StandinPdh, CoreSetsUpAndSamplesScriptedLoad) {
  ScopedEnv cpu(L"VESKA_PDH_CPU", L"25 75.5");
  ScopedEnv disk(L"VESKA_PDH_DISK", L"40");
  ASSERT_EQ(SetUpCpuCounters(state, counters), 1);
  ASSERT_EQ(SetUpDiskCounter(state, counters), 1);
  EXPECT_TRUE(shell.messages().empty());
  EXPECT_EQ(state.DiskCounterPath, "\\LogicalDisk(_Total)\\% Disk Time");
  const size_t cores = counters.ProcessorCount();
  ASSERT_EQ(state.CpuCounters.size(), cores);
  EXPECT_EQ(state.CoreCounterPath,
            "\\Processor(" + std::to_string(cores - 1) + ")\\% Processor Time");

  // A rate needs two collections; the first read stores 0.
  SampleCpuLoads(state, counters);
  SampleDiskLoad(state, counters);
  EXPECT_EQ(state.CoreLoads[0], 0.0);
  EXPECT_EQ(state.DiskLoad, 0.0);
  SampleCpuLoads(state, counters);
  SampleDiskLoad(state, counters);
  EXPECT_EQ(state.CoreLoads[0], 25.0);
  for (size_t n = 1; n < cores; ++n) EXPECT_EQ(state.CoreLoads[n], 75.5);
  EXPECT_EQ(state.DiskLoad, 40.0);
  CloseCpuQuery(state, counters);
  CloseDiskQuery(state, counters);
}

TEST_F(StandinPdh, CapsAtOneHundredUnlessAskedNotTo) {
  ScopedEnv cpu(L"VESKA_PDH_CPU", L"150");
  CounterQuery query = 0;
  CounterHandle counter = 0;
  ASSERT_EQ(counters.OpenQuery(1, &query), kCounterOk);
  ASSERT_EQ(counters.AddCounter(query, "\\Processor(0)\\% Processor Time", 0,
                                &counter),
            kCounterOk);
  counters.CollectQueryData(query);
  counters.CollectQueryData(query);
  FormattedCounterValue value;
  ASSERT_EQ(counters.GetFormattedCounterValue(counter, kFormatDouble, &value),
            kCounterOk);
  EXPECT_EQ(value.value, 100.0);
  ASSERT_EQ(counters.GetFormattedCounterValue(
                counter, kFormatDouble | kFormatNoCap100, &value),
            kCounterOk);
  EXPECT_EQ(value.value, 150.0);
  EXPECT_EQ(counters.CloseQuery(query), kCounterOk);
}

TEST_F(StandinPdh, AMissingNameOrProcessorLeadsToRepair) {
  {
    ScopedEnv no_names(L"VESKA_PDH_NO_NAMES", L"236");
    EXPECT_EQ(SetUpDiskCounter(state, counters), 0);
    shell.AnswerMessage(kAnswerNo);
    EXPECT_EQ(OfferRepair(shell), CounterRepairOutcome::kRepairDeclined);
    EXPECT_EQ(state.DiskObjectName, std::string(260, ' '));
  }
  // A path for a processor the machine lacks is refused like on Linux.
  CounterQuery query = 0;
  CounterHandle counter = 99;
  ASSERT_EQ(counters.OpenQuery(1, &query), kCounterOk);
  const std::string beyond = "\\Processor(" +
                             std::to_string(counters.ProcessorCount()) +
                             ")\\% Processor Time";
  EXPECT_NE(counters.AddCounter(query, beyond, 0, &counter), kCounterOk);
  EXPECT_EQ(counter, 0u);
}

// A machine of 7 logical processors in two groups of 4 and 3. "Processor"
// numbers the first group's only; every processor is set up and heard
// through its "group,index" instance, in flat order.
TEST_F(StandinPdh, EveryProcessorGroupIsCountedAndSampled) {
  ScopedEnv groups(L"VESKA_PDH_GROUPS", L"4 3");
  ScopedEnv cpu(L"VESKA_PDH_CPU", L"10 20 30 40 50 60 70");
  CounterQuery query = 0;
  CounterHandle counter = 99;
  ASSERT_EQ(counters.OpenQuery(1, &query), kCounterOk);
  EXPECT_NE(counters.AddCounter(query, "\\Processor(4)\\% Processor Time", 0,
                                &counter),
            kCounterOk);
  counters.CloseQuery(query);

  PdhCounterLibrary grouped({4, 3});
  EXPECT_EQ(grouped.ProcessorCount(), 7u);
  ASSERT_EQ(SetUpCpuCounters(state, grouped), 1);
  ASSERT_EQ(state.LastCoreIndex, 6);
  SampleCpuLoads(state, grouped);
  SampleCpuLoads(state, grouped);
  EXPECT_EQ(state.CoreLoads, (std::vector<double>{10, 20, 30, 40, 50, 60, 70}));
  CloseCpuQuery(state, grouped);
  EXPECT_EQ(ProcessorInstance({4, 3}, 4), "1,0");
  EXPECT_EQ(ProcessorInstance({4, 3}, 7), "");

  // One group: the paths go as built, to the "Processor" object.
  PdhCounterLibrary one_group({4});
  MonitorState plain;
  ASSERT_EQ(SetUpCpuCounters(plain, one_group), 1);
  EXPECT_EQ(plain.CoreCounterPath, "\\Processor(" +
                                       std::to_string(plain.LastCoreIndex) +
                                       ")\\% Processor Time");
  SampleCpuLoads(plain, one_group);
  SampleCpuLoads(plain, one_group);
  EXPECT_EQ(plain.CoreLoads.at(0), 10.0);
  CloseCpuQuery(plain, one_group);
}

// Real load: a spinning thread shows on the processors.
TEST_F(StandinPdh, ReadsRealProcessorLoad) {
  ASSERT_EQ(SetUpCpuCounters(state, counters), 1);
  std::atomic<bool> spin{true};
  std::thread busy([&] {
    while (spin.load(std::memory_order_relaxed)) {
    }
  });
  SampleCpuLoads(state, counters);
  Sleep(1000);
  SampleCpuLoads(state, counters);
  spin = false;
  busy.join();
  double sum = 0;
  for (double load : state.CoreLoads) {
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 100.0);
    sum += load;
  }
  // One processor's worth of spinning, less what a crowded machine takes.
  EXPECT_GE(sum, 40.0);
}

}  // namespace
}  // namespace veska::testing
