// Reaches veska.exe's windows from outside in the end-to-end tests, as the
// system would:
//   window_probe end-session   asks the hidden window whether the session
//                              may end, then ends it (the Restart Manager's
//                              way); code 0 when the program agreed
//   window_probe prompt        measures the open "Volume" dialog's prompt;
//                              code 0 when its whole text fits
//   window_probe browsing      prints the folder the open folder browser
//                              has selected (the name in its edit box)
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "prompt_check.h"
#include "shell/win32/win32_shell.h"

namespace {

int EndSession() {
  HWND window = FindWindowW(veska::kHiddenWindowClass, nullptr);
  if (window == nullptr) {
    std::puts("no hidden window of the program");
    return 2;
  }
  DWORD_PTR agreed = 0;
  if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                           SMTO_ABORTIFHUNG, 5000, &agreed)) {
    std::puts("the program did not answer whether the session may end");
    return 3;
  }
  if (agreed != TRUE) {
    std::printf("the program refused the session's end (%lu)\n",
                static_cast<unsigned long>(agreed));
    return 1;
  }
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP,
                      SMTO_ABORTIFHUNG, 5000, &ignored);
  std::puts("the session ended");
  return 0;
}

int Prompt() {
  HWND dialog = FindWindowW(L"#32770", L"Volume");
  if (dialog == nullptr) {
    std::puts("no \"Volume\" dialog");
    return 2;
  }
  const veska::PromptFit fit = veska::MeasurePrompt(dialog);
  std::printf("%s\n", fit.Describe().c_str());
  return fit.Fits() ? 0 : 1;
}

BOOL CALLBACK FindEdit(HWND child, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(child, name, 16);
  if (lstrcmpiW(name, L"Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

int Browsing() {
  HWND browser = FindWindowW(L"#32770", L"Browse for Folder");
  HWND edit = nullptr;
  if (browser != nullptr) {
    EnumChildWindows(browser, &FindEdit, reinterpret_cast<LPARAM>(&edit));
  }
  if (edit == nullptr) {
    std::puts("no folder browser with an edit box");
    return 2;
  }
  // Another process's edit text comes by message; the window's own title
  // (what GetWindowText reads across processes) is empty.
  wchar_t text[512] = {};
  SendMessageTimeoutW(edit, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
  std::printf("%ls\n", text);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"end-session") == 0) {
    return EndSession();
  }
  if (argc == 2 && std::wcscmp(argv[1], L"prompt") == 0) return Prompt();
  if (argc == 2 && std::wcscmp(argv[1], L"browsing") == 0) return Browsing();
  std::puts("usage: window_probe end-session | prompt | browsing");
  return 2;
}
