// Counters that cannot be set up: the repair offer, what the application
// says and does after each answer, and the end of the process.
#include "app/startup.h"

#include "app_rig.h"

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

class CounterRepairTest : public AppTest {
 protected:
  // Runs `step`, which must end the process, and returns the exit code.
  template <typename Step>
  int ExitCodeOf(Step step) {
    try {
      step();
    } catch (const ProcessExit& exit) {
      return exit.code;
    }
    ADD_FAILURE() << "the process did not end";
    return -1;
  }
};

TEST_F(CounterRepairTest, NoTellsTheProgramWillCloseAndEnds) {
  shell.AnswerMessage(kAnswerNo);
  EXPECT_EQ(ExitCodeOf([&] { EndForBrokenCounters(state); }), 0);
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
  EXPECT_EQ(ExitCodeOf([&] { EndForBrokenCounters(state); }), 0);
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
  EXPECT_EQ(ExitCodeOf([&] { EndForBrokenCounters(state); }), 0);
  ASSERT_EQ(shell.messages().size(), 2u);
  EXPECT_EQ(shell.messages()[1].text, kCloseText);
  EXPECT_TRUE(shell.elevated().empty());
}

TEST_F(CounterRepairTest, EveryRefusedSetUpStepEndsThroughTheOffer) {
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
      {"no name look-up",
       [](FakeCounterLibrary& c) { c.has_name_lookup = false; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCounterLibrary broken;
    ScriptedShell fresh_shell;
    AppState fresh;
    fresh.services.counters = &broken;
    fresh.services.shell = &fresh_shell;
    c.breakage(broken);
    EXPECT_EQ(ExitCodeOf([&] { StartUp(fresh, {}); }), 0);
    ASSERT_EQ(fresh_shell.messages().size(), 2u);
    EXPECT_EQ(fresh_shell.messages()[0].title, "Failed to initialize counters");
    EXPECT_TRUE(fresh_shell.requester_calls().empty());
  }
}

}  // namespace
}  // namespace veska::testing
