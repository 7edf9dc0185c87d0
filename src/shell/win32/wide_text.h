// Text crosses into Win32 calls as UTF-16 and comes back as UTF-8.
#ifndef VESKA_SHELL_WIN32_WIDE_TEXT_H_
#define VESKA_SHELL_WIN32_WIDE_TEXT_H_

#include <cstddef>
#include <string>

namespace veska {

// Invalid UTF-8 becomes U+FFFD, as the system converts it.
std::wstring Widen(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Narrow(const std::wstring& text);
// At most `limit` UTF-16 units, never half a surrogate pair.
std::wstring CutWide(std::wstring text, std::size_t limit);

}  // namespace veska

#endif  // VESKA_SHELL_WIN32_WIDE_TEXT_H_
