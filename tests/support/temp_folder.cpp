#include "temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace veska::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "veska-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

ScopedWorkingFolder::ScopedWorkingFolder(const fs::path& folder)
    : previous_(fs::current_path()) {
  fs::current_path(folder);
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

TempFile::TempFile(const std::vector<uint8_t>& contents,
                   const std::string& name)
    : path_(folder_.path() / name) {
  WriteFile(path_, contents);
}

void WriteFile(const fs::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
  WriteFile(file, std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                   bytes.size()));
}

std::string ReadFile(const fs::path& file) {
  std::ostringstream bytes;
  bytes << std::ifstream(file, std::ios::binary).rdbuf();
  return bytes.str();
}

}  // namespace veska::testing
