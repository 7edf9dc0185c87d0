// Reads the start at login back as the desktop will: the shortcut VESKA.lnk
// in the user's Startup folder, through the shell's own link object. Prints
// "missing", or its target and "Start in" as "target=..." and "start_in=...".
// With "start" it opens the shortcut as the desktop does at login.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <knownfolders.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  PWSTR folder = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &folder))) {
    return 3;
  }
  const std::wstring shortcut = std::wstring(folder) + L"\\VESKA.lnk";
  CoTaskMemFree(folder);
  if (GetFileAttributesW(shortcut.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::puts("missing");
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "start") == 0) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = shortcut.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) ? 0 : 5;
  }
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t target[MAX_PATH] = {};
  wchar_t start_in[MAX_PATH] = {};
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))) ||
      FAILED(link->QueryInterface(IID_IPersistFile,
                                  reinterpret_cast<void**>(&file))) ||
      FAILED(file->Load(shortcut.c_str(), STGM_READ)) ||
      FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) ||
      FAILED(link->GetWorkingDirectory(start_in, MAX_PATH))) {
    std::puts("unreadable");
    return 4;
  }
  std::printf("target=%s\nstart_in=%s\n", Utf8(target).c_str(),
              Utf8(start_in).c_str());
  file->Release();
  link->Release();
  CoUninitialize();
  return 0;
}
