// A private folder per test, and whole-file reads and writes in it.
#ifndef VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_
#define VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_folder.h"

namespace veska {

class PrefsFolderTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const {
    return (folder_ / name).string();
  }
  void Put(const std::string& name, const std::string& bytes) const {
    testing::WriteFile(PathOf(name), bytes);
  }
  std::string Get(const std::string& name) const {
    return testing::ReadFile(PathOf(name));
  }

  testing::TempFolder temp_;
  std::filesystem::path folder_ = temp_.path();
};

}  // namespace veska

#endif  // VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_
