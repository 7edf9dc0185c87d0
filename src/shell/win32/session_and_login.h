// One instance per Windows session (a named mutex in the session's own
// namespace) and the start at login (a shortcut in the user's Startup
// folder whose target is this program and whose "Start in" is the working
// folder).
#ifndef VESKA_SHELL_WIN32_SESSION_AND_LOGIN_H_
#define VESKA_SHELL_WIN32_SESSION_AND_LOGIN_H_

#include <string>

namespace veska {

// False when another process of the session holds the claim; the claim lasts
// until this process ends.
bool ClaimWindowsSession();

// The shortcut "VESKA.lnk" in `startup_folder`, or in the user's Startup
// folder when that is empty. COM must be initialised on the thread.
bool StartupShortcutExists(const std::wstring& startup_folder = L"");
// Writes it (over one that starts anything else), or removes it when it is
// ours; false with the reason in `*error`, nothing half-written.
bool SetStartupShortcut(bool on, std::string* error,
                        const std::wstring& startup_folder = L"");

}  // namespace veska

#endif  // VESKA_SHELL_WIN32_SESSION_AND_LOGIN_H_
