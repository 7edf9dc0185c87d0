#include "monitor/counter_repair.h"

#include "monitor_test_support.h"

namespace veska::testing {
namespace {

const char kFailureText[] =
    "This problem usually occurs if counters are either not initialized or "
    "have broken. VESKA can attempt to fix this problem for you. If you do not "
    "know what this means, it's probably OK to say yes here, since VESKA will "
    "not work otherwise. Do you want to give it a shot?";
const char kRepairText[] =
    "VESKA will now run a small utility which will fix your counters. For "
    "this, it needs to ask for administrator privilidges. VESKA will then "
    "exit. After this process is complete, restart VESKA, and hopefully "
    "everything will work as expected. If you're still having problems, but "
    "you've already done all this, then please send me a mail.";
const char kCloseText[] =
    "VESKA will not work without these counters. To prevent anything weird, "
    "VESKA will now close.";

class CounterRepairTest : public MonitorTest {};

TEST_F(CounterRepairTest, NoTellsTheProgramWillCloseAndEnds) {
  shell.AnswerMessage(kAnswerNo);
  EXPECT_EQ(ExitCodeOf([&] { RunCounterRepair(state); }), 0);
  ASSERT_EQ(shell.messages().size(), 2u);
  EXPECT_EQ(shell.messages()[0].title, "Failed to initialize counters");
  EXPECT_EQ(shell.messages()[0].text, kFailureText);
  EXPECT_EQ(shell.messages()[0].style, kMessageYesNo);
  EXPECT_EQ(shell.messages()[1].title, "Information");
  EXPECT_EQ(shell.messages()[1].text, kCloseText);
  EXPECT_EQ(shell.messages()[1].style, kMessageOk);
  EXPECT_TRUE(shell.elevated().empty());
  EXPECT_TRUE(counters.closed.empty());
}

TEST_F(CounterRepairTest, YesStartsTheUtilityElevatedThenEnds) {
  shell.AnswerMessage(kAnswerYes);
  EXPECT_EQ(ExitCodeOf([&] { RunCounterRepair(state); }), 0);
  ASSERT_EQ(shell.messages().size(), 2u);
  EXPECT_EQ(shell.messages()[1].title, "Information");
  EXPECT_EQ(shell.messages()[1].text, kRepairText);
  EXPECT_EQ(shell.messages()[1].style, kMessageOk);
  EXPECT_EQ(shell.elevated(), std::vector<std::string>{"perfmend.exe"});
  EXPECT_EQ(shell.calls(),
            (std::vector<std::string>{
                "ShowMessage Failed to initialize counters",
                "ShowMessage Information", "RunElevated perfmend.exe",
                "RemoveTrayIcon 1", "ExitProcess 0"}));
}

TEST_F(CounterRepairTest, AnyAnswerButYesCountsAsNo) {
  shell.AnswerMessage(kAnswerOk);
  EXPECT_EQ(ExitCodeOf([&] { RunCounterRepair(state); }), 0);
  ASSERT_EQ(shell.messages().size(), 2u);
  EXPECT_EQ(shell.messages()[1].text, kCloseText);
  EXPECT_TRUE(shell.elevated().empty());
}

}  // namespace
}  // namespace veska::testing
