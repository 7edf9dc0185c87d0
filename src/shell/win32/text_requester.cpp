#include "shell/win32/text_requester.h"

#include <windows.h>

#include <vector>

namespace veska {
namespace {

// Sizes at 100 % (96 dots per inch); everything scales with the DPI.
constexpr int kClientWidth = 290;
constexpr int kMargin = 10;
constexpr int kGap = 8;
constexpr int kButtonWidth = 80;
constexpr int kFieldPadding = 8;
constexpr int kButtonPadding = 12;

struct RequesterData {
  std::wstring title;
  std::wstring prompt;
  std::wstring text;
};

// The DPI of the monitor the window is on where the system tells it per
// window (Windows 10 onwards), else the system's, which older systems scale
// every aware window to.
int WindowDpi(HWND window) {
  using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
  static const auto get_dpi =
      reinterpret_cast<GetDpiForWindowCall>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr) {
    const UINT dpi = get_dpi(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi > 0 ? dpi : 96;
}

struct Layout {
  RECT prompt;
  RECT edit;
  RECT ok;
  SIZE client;
};

// Where the controls go for this prompt in this font at this DPI: the
// prompt as high as its wrapped lines, field and button as high as a line
// of the font and their borders.
Layout LayOut(HWND dialog, HFONT font, const std::wstring& prompt) {
  const int dpi = WindowDpi(dialog);
  auto px = [dpi](int at_96) { return MulDiv(at_96, dpi, 96); };
  const int width = px(kClientWidth);
  const int margin = px(kMargin);
  const int gap = px(kGap);

  HDC dc = GetDC(dialog);
  HGDIOBJ old_font = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  RECT text{0, 0, width - 2 * margin, 0};
  DrawTextW(dc, prompt.c_str(), static_cast<int>(prompt.size()), &text,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old_font);
  ReleaseDC(dialog, dc);

  const int line = metrics.tmHeight + metrics.tmExternalLeading;
  Layout layout{};
  int y = margin;
  layout.prompt = {margin, y, width - margin, y + text.bottom};
  y = layout.prompt.bottom + gap;
  layout.edit = {margin, y, width - margin, y + line + px(kFieldPadding)};
  y = layout.edit.bottom + gap;
  layout.ok = {width - margin - px(kButtonWidth), y, width - margin,
               y + line + px(kButtonPadding)};
  layout.client = {width, layout.ok.bottom + margin};
  return layout;
}

// The window round a client area of `client`, centred in the work area of
// the dialog's monitor.
void PlaceDialog(HWND dialog, SIZE client) {
  RECT rect{0, 0, client.cx, client.cy};
  AdjustWindowRectEx(
      &rect, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
      static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY),
                  &monitor);
  const RECT& area = monitor.rcWork;
  SetWindowPos(
      dialog, HWND_TOP, area.left + (area.right - area.left - width) / 2,
      area.top + (area.bottom - area.top - height) / 2, width, height, 0);
  // The frame's own size may differ from the estimate at some scales: the
  // client area is what the controls were laid out for.
  RECT got{};
  GetClientRect(dialog, &got);
  if (got.right != client.cx || got.bottom != client.cy) {
    SetWindowPos(dialog, nullptr, 0, 0, width + client.cx - got.right,
                 height + client.cy - got.bottom, SWP_NOMOVE | SWP_NOZORDER);
  }
}

HWND AddControl(HWND dialog, DWORD ex_style, const wchar_t* window_class,
                const wchar_t* text, DWORD style, const RECT& at, int id,
                HFONT font) {
  HWND control = CreateWindowExW(
      ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, at.left,
      at.top, at.right - at.left, at.bottom - at.top, dialog,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  return control;
}

void StartDialog(HWND dialog, RequesterData* data) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
  SetWindowTextW(dialog, data->title.c_str());
  auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  const Layout layout = LayOut(dialog, font, data->prompt);
  PlaceDialog(dialog, layout.client);
  AddControl(dialog, 0, L"STATIC", data->prompt.c_str(), SS_LEFT | SS_NOPREFIX,
             layout.prompt, kRequesterPromptId, font);
  HWND edit = AddControl(dialog, WS_EX_CLIENTEDGE, L"EDIT", data->text.c_str(),
                         WS_TABSTOP | ES_AUTOHSCROLL, layout.edit,
                         kRequesterEditId, font);
  AddControl(dialog, 0, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON,
             layout.ok, IDOK, font);
  SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
  SetForegroundWindow(dialog);
  SetFocus(edit);
  // The caret at the end, nothing selected, so that typing adds to it.
  const auto length = static_cast<LPARAM>(data->text.size());
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
}

INT_PTR CALLBACK RequesterProc(HWND dialog, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      StartDialog(dialog, reinterpret_cast<RequesterData*>(lparam));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* data = reinterpret_cast<RequesterData*>(
            GetWindowLongPtrW(dialog, DWLP_USER));
        HWND edit = GetDlgItem(dialog, kRequesterEditId);
        const int length = GetWindowTextLengthW(edit);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        GetWindowTextW(edit, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        data->text = text;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {  // Escape, or the close box
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// An empty dialog template with a caption and the shell's dialog font, which
// the dialog manager makes at the dialog's DPI.
std::vector<WORD> RequesterTemplate() {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
  header->style = DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | WS_POPUP |
                  WS_CAPTION | WS_SYSMENU;
  header->cdit = 0;
  header->cx = 200;
  header->cy = 80;
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  words.push_back(0);  // no caption yet
  words.push_back(8);  // point size
  for (const wchar_t* c = L"MS Shell Dlg"; *c != L'\0'; ++c) {
    words.push_back(static_cast<WORD>(*c));
  }
  words.push_back(0);
  return words;
}

}  // namespace

std::optional<std::wstring> AskText(const std::wstring& title,
                                    const std::wstring& prompt,
                                    const std::wstring& default_text) {
  RequesterData data{title, prompt, default_text};
  std::vector<WORD> dialog_template = RequesterTemplate();
  const INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr),
      reinterpret_cast<const DLGTEMPLATE*>(dialog_template.data()), nullptr,
      &RequesterProc, reinterpret_cast<LPARAM>(&data));
  if (result != IDOK) return std::nullopt;
  return data.text;
}

}  // namespace veska
