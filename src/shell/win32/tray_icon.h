// The tray icon's image: a bitmap file made into an icon.
#ifndef VESKA_SHELL_WIN32_TRAY_ICON_H_
#define VESKA_SHELL_WIN32_TRAY_ICON_H_

#include <windows.h>

#include <string>

namespace veska {

// An icon from the bitmap file `path`, transparent where a 32-bit image has
// alpha 0; a 32-bit image whose alpha bytes are all 0 carries no alpha and
// is opaque, as is any other depth. Null when the file is missing or is no
// bitmap the system can read.
HICON LoadTrayIcon(const std::wstring& path);

}  // namespace veska

#endif  // VESKA_SHELL_WIN32_TRAY_ICON_H_
