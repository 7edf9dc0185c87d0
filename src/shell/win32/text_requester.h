// The text requester: a small modal dialog with a prompt, a field and OK,
// laid out from the dialog's own DPI and font so that it reads the same at
// any scale.
#ifndef VESKA_SHELL_WIN32_TEXT_REQUESTER_H_
#define VESKA_SHELL_WIN32_TEXT_REQUESTER_H_

#include <optional>
#include <string>

namespace veska {

// The text given with OK, nullopt when cancelled (Escape, the close box).
std::optional<std::wstring> AskText(const std::wstring& title,
                                    const std::wstring& prompt,
                                    const std::wstring& default_text);

// Control ids inside the dialog, by which tests find them.
inline constexpr int kRequesterEditId = 100;
inline constexpr int kRequesterPromptId = 101;

}  // namespace veska

#endif  // VESKA_SHELL_WIN32_TEXT_REQUESTER_H_
