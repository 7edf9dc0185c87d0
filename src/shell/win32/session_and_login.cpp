#include "shell/win32/session_and_login.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <knownfolders.h>
// clang-format on

#include "shell/win32/wide_text.h"

namespace veska {
namespace {

constexpr const wchar_t* kSessionMutex = L"Local\\VESKA.OneInstance";
constexpr const wchar_t* kShortcutName = L"VESKA.lnk";

template <typename T>
struct ComRef {
  T* p = nullptr;
  ~ComRef() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
};

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' ||
          message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) {
    wchar_t number[16];
    wsprintfW(number, L"error 0x%08lX", code);
    message = number;
  }
  return Narrow(message);
}

std::wstring StartupFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_CREATE, nullptr,
                                     &path))) {
    folder = path;
  }
  CoTaskMemFree(path);
  return folder;
}

std::wstring ThisProgram() {
  std::wstring path(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

std::wstring WorkingFolder() {
  std::wstring path(32768, L'\0');
  const DWORD length =
      GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
  path.resize(length < path.size() ? length : 0);
  return path;
}

// The same file or folder, however the two names spell it (case, short
// names, a closing backslash).
bool SameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const std::wstring* names[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    if (names[i]->empty()) return false;
    HANDLE file = CreateFileW(
        names[i]->c_str(), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL got = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!got) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace

bool ClaimWindowsSession() {
  static HANDLE held = nullptr;
  if (held != nullptr) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSessionMutex);
  // Denied: the holder runs with other rights (elevated), but it runs.
  if (mutex == nullptr) return GetLastError() != ERROR_ACCESS_DENIED;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  held = mutex;  // released by the system when the process ends
  return true;
}

bool StartupShortcutExists(const std::wstring& startup_folder) {
  const std::wstring folder =
      startup_folder.empty() ? StartupFolder() : startup_folder;
  if (folder.empty()) return false;
  const std::wstring shortcut = folder + L"\\" + kShortcutName;
  if (GetFileAttributesW(shortcut.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IShellLinkW,
                              reinterpret_cast<void**>(&link.p))) ||
      FAILED(link->QueryInterface(IID_IPersistFile,
                                  reinterpret_cast<void**>(&file.p))) ||
      FAILED(file->Load(shortcut.c_str(), STGM_READ))) {
    return false;
  }
  wchar_t target[MAX_PATH] = {};
  wchar_t start_in[MAX_PATH] = {};
  if (link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK ||
      FAILED(link->GetWorkingDirectory(start_in, MAX_PATH))) {
    return false;
  }
  return SameFile(target, ThisProgram()) && SameFile(start_in, WorkingFolder());
}

bool SetStartupShortcut(bool on, std::string* error,
                        const std::wstring& startup_folder) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  const std::wstring folder =
      startup_folder.empty() ? StartupFolder() : startup_folder;
  if (folder.empty()) {
    *error = "the Startup folder could not be found";
    return false;
  }
  const std::wstring shortcut = folder + L"\\" + kShortcutName;
  if (!on) {
    if (!StartupShortcutExists(folder)) return true;  // not ours: it stays
    if (!DeleteFileW(shortcut.c_str())) {
      *error = "cannot remove " + Narrow(shortcut) + ": " +
               SystemText(GetLastError());
      return false;
    }
    return true;
  }
  const std::wstring program = ThisProgram();
  const std::wstring start_in = WorkingFolder();
  // A shortcut holds paths of at most MAX_PATH characters.
  if (program.empty() || start_in.empty() || program.size() >= MAX_PATH ||
      start_in.size() >= MAX_PATH) {
    *error =
        "the path of the program or of its folder is too long for a "
        "shortcut";
    return false;
  }
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> file;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IShellLinkW, reinterpret_cast<void**>(&link.p));
  if (SUCCEEDED(result)) result = link->SetPath(program.c_str());
  if (SUCCEEDED(result)) result = link->SetWorkingDirectory(start_in.c_str());
  if (SUCCEEDED(result)) result = link->SetDescription(L"VESKA");
  if (SUCCEEDED(result)) {
    result = link->QueryInterface(IID_IPersistFile,
                                  reinterpret_cast<void**>(&file.p));
  }
  if (FAILED(result)) {
    *error =
        "cannot make a shortcut: " + SystemText(static_cast<DWORD>(result));
    return false;
  }
  // Written whole beside the old one, then put in its place.
  const std::wstring temporary =
      shortcut + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  result = file->Save(temporary.c_str(), TRUE);
  DWORD failure = 0;
  if (FAILED(result)) {
    failure = static_cast<DWORD>(result);
  } else if (!MoveFileExW(temporary.c_str(), shortcut.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = GetLastError();
  }
  if (failure != 0) {
    DeleteFileW(temporary.c_str());
    *error = "cannot write " + Narrow(shortcut) + ": " + SystemText(failure);
    return false;
  }
  return true;
}

}  // namespace veska
