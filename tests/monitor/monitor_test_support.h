// A fresh state wired to fake counters and a scripted shell.
#ifndef VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_
#define VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "fake_counter_library.h"
#include "shell/script/scripted_shell.h"

namespace veska::testing {

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() {
    state.services.counters = &counters;
    state.services.shell = &shell;
  }

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

  FakeCounterLibrary counters;
  ScriptedShell shell;
  AppState state;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_
