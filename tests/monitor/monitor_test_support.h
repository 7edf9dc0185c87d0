// A fresh load-monitoring state beside fake counters and a scripted shell.
#ifndef VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_
#define VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include "fake_counter_library.h"
#include "monitor/monitor_state.h"
#include "shell/script/scripted_shell.h"

namespace veska::testing {

class MonitorTest : public ::testing::Test {
 protected:
  FakeCounterLibrary counters;
  ScriptedShell shell;
  MonitorState state;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_MONITOR_MONITOR_TEST_SUPPORT_H_
