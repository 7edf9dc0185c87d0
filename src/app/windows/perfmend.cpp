// perfmend.exe: rebuilds the performance counter registrations with the
// system's own tools, then says in one message what it did. VESKA offers to
// start it with administrator rights when its counters cannot be set up.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/windows/repair_report.h"
#include "shell/win32/wide_text.h"

namespace {

// lodctr can take a while on a machine with many counter providers.
constexpr DWORD kStepTimeoutMs = 180000;

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenElevation, &elevation,
                                         sizeof(elevation), &size) != FALSE;
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"C:\\Windows\\System32";
  return folder;
}

veska::RepairStep Run(const std::wstring& path, const std::wstring& arguments,
                      const std::string& command, const std::string& purpose) {
  veska::RepairStep step;
  step.command = command;
  step.purpose = purpose;
  step.path = veska::Narrow(path);
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    step.outcome = veska::RepairStep::Outcome::kMissing;
    return step;
  }
  std::wstring line = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    step.outcome = veska::RepairStep::Outcome::kNotStarted;
    step.code = GetLastError();
    return step;
  }
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, kStepTimeoutMs) != WAIT_OBJECT_0) {
    step.outcome = veska::RepairStep::Outcome::kTimedOut;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    step.code = code;
    step.outcome = code == 0 ? veska::RepairStep::Outcome::kSucceeded
                             : veska::RepairStep::Outcome::kFailed;
  }
  CloseHandle(process.hProcess);
  return step;
}

int Tell(const std::string& text, UINT icon, int exit_code) {
  // Also on standard output, for a console or a log.
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  MessageBoxW(nullptr, veska::Widen(text).c_str(),
              veska::Widen(veska::kRepairTitle).c_str(),
              MB_OK | icon | MB_SETFOREGROUND);
  return exit_code;
}

}  // namespace

int main() {
  if (!Elevated()) return Tell(veska::NotElevatedReport(), MB_ICONWARNING, 2);
  const std::wstring system = SystemFolder();
  std::vector<veska::RepairStep> steps;
  steps.push_back(Run(system + L"\\lodctr.exe", L"/R", "lodctr /R",
                      "rebuilds the counter registrations"));
  // Windows keeps the management service's tool under wbem; Wine keeps it
  // beside the others.
  std::wstring winmgmt = system + L"\\wbem\\winmgmt.exe";
  if (GetFileAttributesW(winmgmt.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetFileAttributesW((system + L"\\winmgmt.exe").c_str()) !=
          INVALID_FILE_ATTRIBUTES) {
    winmgmt = system + L"\\winmgmt.exe";
  }
  steps.push_back(Run(winmgmt, L"/resyncperf", "winmgmt /resyncperf",
                      "hands them to the management service"));
  const int code = veska::RepairExitCode(steps);
  return Tell(veska::RepairReport(steps),
              code == 0 ? MB_ICONINFORMATION : MB_ICONERROR, code);
}
