#include "monitor/counter_repair.h"

#include "monitor_test_support.h"

namespace veska::testing {
namespace {

class CounterRepairOfferTest : public MonitorTest {};

TEST_F(CounterRepairOfferTest, OnlyYesChoosesTheRepairAndNothingElseHappens) {
  const std::pair<int32_t, CounterRepairOutcome> answers[] = {
      {kAnswerYes, CounterRepairOutcome::kRepairChosen},
      {kAnswerNo, CounterRepairOutcome::kRepairDeclined},
      {kAnswerOk, CounterRepairOutcome::kRepairDeclined}};
  for (const auto& [answer, outcome] : answers) {
    shell.AnswerMessage(answer);
    EXPECT_EQ(OfferCounterRepair(shell), outcome) << answer;
  }
  ASSERT_EQ(shell.messages().size(), 3u);
  EXPECT_EQ(shell.messages()[0].title, "Failed to initialize counters");
  EXPECT_EQ(shell.messages()[0].style, kMessageYesNo);
  EXPECT_EQ(shell.calls().size(), 3u);  // the questions, nothing started
}

}  // namespace
}  // namespace veska::testing
