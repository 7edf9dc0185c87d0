// The start at login on a Linux desktop: a desktop entry named veska.desktop
// in the user's autostart folder, whose Exec is this program and whose Path
// is the folder it works in.
#ifndef VESKA_SHELL_QT_LOGIN_START_H_
#define VESKA_SHELL_QT_LOGIN_START_H_

#include <filesystem>
#include <string>

namespace veska {

// The entry's text for `program` started in `folder`; empty when either is
// not UTF-8 text, which a desktop entry cannot hold.
std::string LoginStartEntryText(const std::filesystem::path& program,
                                const std::filesystem::path& folder);

// The program and folder an entry's text starts, read the way the desktop
// reads them; empty when it starts nothing (no Exec, or disabled by Hidden or
// by the desktop's own switch).
struct LoginStartTarget {
  std::string program;
  std::string folder;
};
LoginStartTarget ReadLoginStartEntry(const std::string& text);

// The entry in `autostart_folder` and what it must point at. The program and
// folder are this process's unless a test gives its own.
class LoginStart {
 public:
  explicit LoginStart(std::filesystem::path autostart_folder,
                      std::filesystem::path program = {},
                      std::filesystem::path folder = {});

  // An entry that starts this program in this folder exists.
  bool Exists() const;
  // Writes the entry (over one that starts anything else) or removes it when
  // it is ours; false with the reason in `*error`, nothing half-written.
  bool Set(bool on, std::string* error) const;

 private:
  std::filesystem::path Entry() const;
  std::filesystem::path Program() const;
  std::filesystem::path Folder() const;

  std::filesystem::path autostart_folder_;
  std::filesystem::path program_;
  std::filesystem::path folder_;
};

}  // namespace veska

#endif  // VESKA_SHELL_QT_LOGIN_START_H_
