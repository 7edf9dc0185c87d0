#include "app/windows/repair_report.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

using Outcome = RepairStep::Outcome;

RepairStep Step(const char* command, Outcome outcome, uint32_t code) {
  return {command, "does it", "C:\\windows\\system32\\tool.exe", outcome, code};
}

TEST(RepairReportTest, SaysEachStepWithItsExitCodeAndTheVerdict) {
  const std::vector<RepairStep> good = {
      Step("lodctr /R", Outcome::kSucceeded, 0),
      Step("winmgmt /resyncperf", Outcome::kSucceeded, 0)};
  const std::string ok = RepairReport(good);
  EXPECT_NE(ok.find("1. lodctr /R (does it): succeeded, exit code 0."),
            std::string::npos)
      << ok;
  EXPECT_NE(ok.find("2. winmgmt /resyncperf (does it): succeeded"),
            std::string::npos);
  EXPECT_NE(ok.find("should work again"), std::string::npos);
  EXPECT_EQ(RepairExitCode(good), 0);

  const std::vector<RepairStep> bad = {
      Step("lodctr /R", Outcome::kFailed, 2147749896u),
      Step("winmgmt /resyncperf", Outcome::kMissing, 0),
      Step("third", Outcome::kNotStarted, 740),
      Step("fourth", Outcome::kTimedOut, 0)};
  const std::string failed = RepairReport(bad);
  for (const char* part :
       {"FAILED, exit code 2147749896.",
        "not run: the tool is missing (C:\\windows\\system32\\tool.exe).",
        "could not be started (system error 740)", "did not finish in time",
        "did not complete"}) {
    EXPECT_NE(failed.find(part), std::string::npos) << part << "\n" << failed;
  }
  EXPECT_EQ(failed.find("should work again"), std::string::npos);
  EXPECT_EQ(RepairExitCode(bad), 1);
  EXPECT_EQ(RepairExitCode({}), 1);
  EXPECT_NE(NotElevatedReport().find("administrator"), std::string::npos);
}

}  // namespace
}  // namespace veska
