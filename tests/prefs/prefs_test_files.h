// A private folder per test, and whole-file reads and writes in it.
#ifndef VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_
#define VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace veska {

class PrefsFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              (std::string("veska-prefs-") + std::to_string(getpid()) + "-" +
               info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string PathOf(const std::string& name) const {
    return (folder_ / name).string();
  }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path folder_;
};

}  // namespace veska

#endif  // VESKA_TESTS_PREFS_PREFS_TEST_FILES_H_
