#include "monitor/counter_paths.h"

#include <algorithm>
#include <cstring>

#include "monitor/load_sampling.h"
#include "monitor_test_support.h"

namespace veska::testing {
namespace {

const std::string kSpaces(260, ' ');

class CounterPathsTest : public MonitorTest {};

TEST_F(CounterPathsTest, PathsJoinTheLookedUpNames) {
  EXPECT_EQ(BuildCoreCounterPath(state, counters, 0),
            "\\Processor(0)\\% Processor Time");
  EXPECT_EQ(BuildCoreCounterPath(state, counters, 10),
            "\\Processor(10)\\% Processor Time");
  EXPECT_EQ(BuildDiskCounterPath(state, counters),
            "\\LogicalDisk(_Total)\\% Disk Time");
  EXPECT_EQ(state.ProcessorObjectName, "Processor");
  EXPECT_EQ(state.ProcessorTimeName, "% Processor Time");
  EXPECT_EQ(state.DiskObjectName, "LogicalDisk");
  EXPECT_EQ(state.DiskTimeName, "% Disk Time");
}

TEST_F(CounterPathsTest, NamesAreLookedUpAgainForEveryPath) {
  counters.processors = 8;
  SetUpDiskCounter(state, counters);
  SetUpCpuCounters(state, counters);
  std::vector<uint32_t> expected = {236, 200};
  for (int core = 0; core < 8; ++core) {
    expected.push_back(238);
    expected.push_back(6);
  }
  EXPECT_EQ(counters.lookups, expected);
}

TEST_F(CounterPathsTest, UnknownIndexLeavesTheSpaces) {
  std::string field = "old text";
  LookUpCounterName(state, counters, 9999, field);
  EXPECT_EQ(field, kSpaces);
  EXPECT_EQ(state.NameBufferSize, 260);
}

TEST_F(CounterPathsTest, WithoutLookUpEveryNameIsSpacesAndSetUpFails) {
  counters.has_name_lookup = false;
  EXPECT_EQ(BuildCoreCounterPath(state, counters, 3),
            "\\" + kSpaces + "(3)\\" + kSpaces);
  EXPECT_EQ(BuildDiskCounterPath(state, counters),
            "\\" + kSpaces + "(_Total)\\" + kSpaces);
  EXPECT_TRUE(counters.lookups.empty());

  EXPECT_EQ(SetUpDiskCounter(state, counters), 0);
  EXPECT_EQ(counters.added_paths,
            std::vector<std::string>{"\\" + kSpaces + "(_Total)\\" + kSpaces});
}

// A look-up that hands back the buffer size it was given and fills it all.
class GreedyLookup : public FakeCounterLibrary {
 public:
  int32_t LookupPerfNameByIndex(uint32_t, char* buffer,
                                uint32_t* buffer_chars) override {
    given = *buffer_chars;
    std::memset(buffer, 'x', given);
    *buffer_chars = given + 1;
    return kCounterOk;
  }
  uint32_t given = 0;
};

TEST_F(CounterPathsTest, NameWithoutTerminatorIsCutAtTheBufferEnd) {
  GreedyLookup greedy;
  std::string field;
  LookUpCounterName(state, greedy, kProcessorObjectIndex, field);
  EXPECT_EQ(greedy.given, 260u);
  EXPECT_EQ(field, std::string(260, 'x'));
  EXPECT_EQ(state.NameBufferSize, 261);  // the count the look-up returned
  LookUpCounterName(state, greedy, kProcessorObjectIndex, field);
  EXPECT_EQ(greedy.given, 260u);  // reset before every look-up
}

}  // namespace
}  // namespace veska::testing
