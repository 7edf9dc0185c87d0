// Private folders, and whole-file reads and writes, for tests that touch the
// file system.
#ifndef VESKA_TESTS_SUPPORT_TEMP_FOLDER_H_
#define VESKA_TESTS_SUPPORT_TEMP_FOLDER_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veska::testing {

// A fresh folder under the temporary folder, removed with all it holds when
// this goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// `folder` is the working folder while this lives; the previous one after.
class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::filesystem::path& folder);
  ~ScopedWorkingFolder();
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

 private:
  std::filesystem::path previous_;
};

// One file holding `contents`, alone in a TempFolder.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& contents,
                    const std::string& name = "s.wav");
  std::string path() const { return path_.string(); }

 private:
  TempFolder folder_;
  std::filesystem::path path_;
};

// Replaces the file's contents with exactly these bytes.
void WriteFile(const std::filesystem::path& file, std::string_view bytes);
void WriteFile(const std::filesystem::path& file,
               const std::vector<uint8_t>& bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_TEMP_FOLDER_H_
