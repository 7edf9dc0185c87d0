// Whether a requester's prompt shows its whole text: the static control is
// at least as wide and as high as its text wrapped in the dialog's font
// (8 point "MS Shell Dlg" at the screen's scale). The font is made here, so
// the check works from another process and does not lean on the program's
// own measure.
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
  HDC screen = GetDC(nullptr);
  fit.dpi = GetDeviceCaps(screen, LOGPIXELSY);
  HFONT font = CreateFontW(-MulDiv(8, fit.dpi, 72), 0, 0, 0, FW_NORMAL, FALSE,
                           FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg");
  HGDIOBJ old = SelectObject(screen, font);
  fit.needed = {0, 0, fit.client.right, 0};
  DrawTextW(screen, text.c_str(), length, &fit.needed,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(screen, old);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return fit;
}

}  // namespace veska

#endif  // VESKA_TESTS_WINDOWS_PROMPT_CHECK_H_
