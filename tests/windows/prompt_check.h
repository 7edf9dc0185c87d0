// Whether a requester's prompt shows its whole text: the static control is
// at least as wide and as high as its text wrapped in its own font.
#ifndef VESKA_TESTS_WINDOWS_PROMPT_CHECK_H_
#define VESKA_TESTS_WINDOWS_PROMPT_CHECK_H_

#include <windows.h>

#include <string>

#include "shell/win32/text_requester.h"

namespace veska {

struct PromptFit {
  bool found = false;
  RECT client{};  // the prompt's
  RECT needed{};  // its text's, wrapped at the prompt's width
  int dpi = 0;    // the dialog's, as the system tells it
  bool Fits() const {
    return found && needed.bottom > 0 && needed.right <= client.right &&
           needed.bottom <= client.bottom;
  }
  std::string Describe() const {
    return "prompt " + std::to_string(client.right) + "x" +
           std::to_string(client.bottom) + ", text " +
           std::to_string(needed.right) + "x" + std::to_string(needed.bottom) +
           " at " + std::to_string(dpi) + " dpi";
  }
};

inline PromptFit MeasurePrompt(HWND dialog) {
  PromptFit fit;
  HWND prompt = GetDlgItem(dialog, kRequesterPromptId);
  if (prompt == nullptr) return fit;
  fit.found = true;
  GetClientRect(prompt, &fit.client);
  const int length = GetWindowTextLengthW(prompt);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(prompt, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  HDC dc = GetDC(prompt);
  auto font = reinterpret_cast<HFONT>(SendMessageW(prompt, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font);
  fit.needed = {0, 0, fit.client.right, 0};
  DrawTextW(dc, text.c_str(), length, &fit.needed,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  fit.dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(prompt, dc);
  return fit;
}

}  // namespace veska

#endif  // VESKA_TESTS_WINDOWS_PROMPT_CHECK_H_
