// Stands in for perfmend.exe beside veska.exe in the end-to-end tests: it
// only records that it ran, and how, in the file VESKA_PERFMEND_RECORD names.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t path[MAX_PATH];
  const DWORD got =
      GetEnvironmentVariableW(L"VESKA_PERFMEND_RECORD", path, MAX_PATH);
  if (got == 0 || got >= MAX_PATH) return 2;
  std::FILE* record = _wfopen(path, L"w");
  if (record == nullptr) return 3;
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  std::fwprintf(record, L"ran: %ls\nfolder: %ls\n", GetCommandLineW(), folder);
  std::fclose(record);
  return 0;
}
