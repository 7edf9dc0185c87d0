#include "monitor/load_sampling.h"

#include <cmath>

#include "monitor_test_support.h"

namespace veska::testing {
namespace {

class LoadSamplingTest : public MonitorTest {
 protected:
  void SetUpCounters() {
    ASSERT_EQ(SetUpDiskCounter(state, counters), 1);
    ASSERT_EQ(SetUpCpuCounters(state, counters), 1);
  }
  // Two samples, so the rate counters have a value.
  void SampleTwice() {
    for (int i = 0; i < 2; ++i) {
      SampleCpuLoads(state, counters);
      SampleDiskLoad(state, counters);
    }
  }
};

TEST_F(LoadSamplingTest, SetUpAddsTheDiskThenOneCounterPerCore) {
  SetUpCounters();
  EXPECT_EQ(
      counters.added_paths,
      (std::vector<std::string>{
          FakeCounterLibrary::kDiskPath, FakeCounterLibrary::CorePath(0),
          FakeCounterLibrary::CorePath(1), FakeCounterLibrary::CorePath(2),
          FakeCounterLibrary::CorePath(3)}));
  EXPECT_EQ(state.LastCoreIndex, 3);
  ASSERT_EQ(state.CpuCounters.size(), 4u);
  EXPECT_EQ(state.CoreLoads, std::vector<double>(4, 0.0));
  for (CounterHandle counter : state.CpuCounters) EXPECT_NE(counter, 0u);
  EXPECT_NE(state.DiskCounter, 0u);
  EXPECT_NE(state.CpuQuery, state.DiskQuery);
  EXPECT_EQ(state.DiskCounterPath, FakeCounterLibrary::kDiskPath);
  EXPECT_EQ(state.CoreCounterPath, FakeCounterLibrary::CorePath(3));
  EXPECT_TRUE(shell.messages().empty());
}

TEST_F(LoadSamplingTest, FirstSampleStoresZeroThenTheLoads) {
  counters.SetCoreLoad(0, 12.5);
  counters.SetCoreLoad(3, 99.0);
  counters.SetDiskLoad(42.0);
  SetUpCounters();
  // A stale value in the shared record must not leak into a failed read.
  state.CpuValue.value = 55.0;
  state.DiskValue.value = 66.0;
  SampleCpuLoads(state, counters);
  SampleDiskLoad(state, counters);
  EXPECT_EQ(state.CoreLoads, std::vector<double>(4, 0.0));
  EXPECT_EQ(state.DiskLoad, 0.0);

  SampleCpuLoads(state, counters);
  SampleDiskLoad(state, counters);
  EXPECT_EQ(state.CoreLoads, (std::vector<double>{12.5, 0.0, 0.0, 99.0}));
  EXPECT_EQ(state.DiskLoad, 42.0);
}

TEST_F(LoadSamplingTest, EachSampleCollectsOnlyItsOwnQuery) {
  SetUpCounters();
  SampleCpuLoads(state, counters);
  SampleCpuLoads(state, counters);
  SampleCpuLoads(state, counters);
  EXPECT_EQ(counters.collections[state.CpuQuery], 3);
  EXPECT_EQ(counters.collections[state.DiskQuery], 0);
  SampleDiskLoad(state, counters);
  EXPECT_EQ(counters.collections[state.CpuQuery], 3);
  EXPECT_EQ(counters.collections[state.DiskQuery], 1);
}

TEST_F(LoadSamplingTest, AnEarlierCoreMayFailWhenTheLastSucceeds) {
  counters.rejected_paths.insert(FakeCounterLibrary::CorePath(1));
  counters.SetCoreLoad(1, 80.0);
  counters.SetCoreLoad(2, 30.0);
  SetUpCounters();
  EXPECT_EQ(state.CpuCounters[1], 0u);
  EXPECT_NE(state.CpuCounters[2], 0u);
  EXPECT_TRUE(shell.messages().empty());
  SampleTwice();
  EXPECT_EQ(state.CoreLoads[1], 0.0);
  EXPECT_EQ(state.CoreLoads[2], 30.0);
}

TEST_F(LoadSamplingTest, FailuresAtSetUpAreReportedForTheRepairOffer) {
  struct Case {
    const char* name;
    std::function<void(FakeCounterLibrary&)> breakage;
  };
  const Case cases[] = {
      {"last core",
       [](FakeCounterLibrary& c) {
         c.rejected_paths.insert(FakeCounterLibrary::CorePath(3));
       }},
      {"disk",
       [](FakeCounterLibrary& c) {
         c.rejected_paths.insert(FakeCounterLibrary::kDiskPath);
       }},
      {"query", [](FakeCounterLibrary& c) { c.open_query_fails = true; }},
      {"no processor", [](FakeCounterLibrary& c) { c.processors = 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCounterLibrary broken;
    MonitorState fresh;
    c.breakage(broken);
    // Start-up goes no further than the first refusal.
    const bool set_up = SetUpDiskCounter(fresh, broken) == 1 &&
                        SetUpCpuCounters(fresh, broken) == 1;
    EXPECT_FALSE(set_up) << "set-up went on";
  }
}

TEST_F(LoadSamplingTest, AverageRoundsAfterEveryAdditionHalvesToEven) {
  SetUpCounters();
  state.CoreLoads = {10.4, 20.5, 30.6, 40.5};  // 10, 30, 61, 102
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 25);
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 25);

  // 1.5 each runs 2, 4, 6, 8; rounding once at the end would give 6 / 4 = 1.
  state.CoreLoads = {1.5, 1.5, 1.5, 1.5};
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 2);
  // 0.5 each stays 0 with halves to even; halves away from zero run 1..4.
  state.CoreLoads = {0.5, 0.5, 0.5, 0.5};
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 0);
  state.CoreLoads = {100.0, 100.0, 100.0, 99.0};  // 399 / 4 truncates
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 99);
}

TEST_F(LoadSamplingTest, OneProcessorAveragesToItsRoundedLoad) {
  counters.processors = 1;
  SetUpCounters();
  EXPECT_EQ(state.LastCoreIndex, 0);
  EXPECT_EQ(counters.added_paths.size(), 2u);  // the disk and core 0
  for (auto [load, average] :
       {std::pair{2.5, 2}, {3.5, 4}, {99.6, 100}, {0.49, 0}}) {
    state.CoreLoads[0] = load;
    UpdateCpuAverage(state);
    EXPECT_EQ(state.CpuAverage, average) << load;
  }
}

TEST_F(LoadSamplingTest, AverageIgnoresLoadsNoCounterCanGive) {
  SetUpCounters();
  state.CoreLoads = {NAN, 1e300, 40.0, 40.0};
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 20);
  // A table shorter than the core count is never read past.
  state.CoreLoads.resize(1);
  state.CoreLoads[0] = 8.0;
  UpdateCpuAverage(state);
  EXPECT_EQ(state.CpuAverage, 2);
}

TEST_F(LoadSamplingTest, RamLoadIsUsedOverTotal) {
  SampleRAMLoad(state, counters);
  EXPECT_EQ(state.TotalRAM, 16ull << 30);
  EXPECT_EQ(state.AvailableRAM, 4ull << 30);
  EXPECT_EQ(state.UsedRAM, 12ull << 30);
  EXPECT_EQ(state.RAMLoad, 75.0f);

  counters.memory = {64ull << 30, 16ull << 30};
  SampleRAMLoad(state, counters);
  EXPECT_EQ(state.RAMLoad, 75.0f);

  counters.memory = {3, 2};  // no rounding of its own
  SampleRAMLoad(state, counters);
  EXPECT_EQ(state.RAMLoad, static_cast<float>(1.0 / 3.0 * 100.0));
}

TEST_F(LoadSamplingTest, UnreadableOrNonsenseMemoryGivesZeroNotNaN) {
  SampleRAMLoad(state, counters);
  counters.memory_ok = false;
  SampleRAMLoad(state, counters);
  EXPECT_EQ(state.TotalRAM, 0u);
  EXPECT_EQ(state.AvailableRAM, 0u);
  EXPECT_EQ(state.UsedRAM, 0u);
  EXPECT_EQ(state.RAMLoad, 0.0f);

  counters.memory_ok = true;
  counters.memory = {4ull << 30, 8ull << 30};
  SampleRAMLoad(state, counters);
  EXPECT_EQ(state.UsedRAM, 0u);
  EXPECT_EQ(state.RAMLoad, 0.0f);
}

}  // namespace
}  // namespace veska::testing
