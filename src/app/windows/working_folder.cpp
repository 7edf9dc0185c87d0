#include "app/windows/working_folder.h"

#include <windows.h>

#include <string>
#include <system_error>

namespace veska {
namespace {

namespace fs = std::filesystem;

bool Holds(const fs::path& folder, const wchar_t* name) {
  std::error_code ec;
  return !folder.empty() && fs::exists(folder / name, ec);
}

// This program's folder, however long its path.
fs::path ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return fs::path(path).parent_path();
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

fs::path ChooseWindowsWorkingFolder(const fs::path& current,
                                    const fs::path& program) {
  if (Holds(current, L"settings.ini") || Holds(current, L"VESKA.bmp")) {
    return current;
  }
  return Holds(program, L"VESKA.bmp") ? program : current;
}

void EnterWindowsWorkingFolder() {
  std::error_code ec;
  const fs::path current = fs::current_path(ec);
  if (ec) return;
  const fs::path folder = ChooseWindowsWorkingFolder(current, ProgramFolder());
  if (folder != current) fs::current_path(folder, ec);
}

}  // namespace veska
