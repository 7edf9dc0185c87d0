#include "shell/qt/login_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace veska {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEntryName = "veska.desktop";
// A desktop entry is a few lines; anything far larger is not one of ours.
constexpr std::streamsize kLargestEntry = 64 * 1024;

bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t extra = c < 0x80                ? 0
                              : c >= 0xC2 && c < 0xE0 ? 1
                              : c >= 0xE0 && c < 0xF0 ? 2
                              : c >= 0xF0 && c < 0xF5 ? 3
                                                      : 4;
    if (c == 0 || extra > 3 || text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += extra + 1;
  }
  return true;
}

// The escapes every string value of a desktop entry takes.
std::string EscapeValue(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == ' ' && (i == 0 || i + 1 == text.size())) {
      out += "\\s";  // readers strip spaces at either end
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeValue(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 's'   ? ' '
           : c == 'n' ? '\n'
           : c == 't' ? '\t'
           : c == 'r' ? '\r'
                      : c;
  }
  return out;
}

// The program as the first argument of Exec: always quoted, so that no
// reserved character needs a rule of its own, and with "%" doubled as field
// codes demand.
std::string QuoteProgram(const std::string& program) {
  std::string out = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return out + "\"";
}

std::string FirstArgument(const std::string& exec) {
  std::string out;
  std::size_t i = 0;
  if (!exec.empty() && exec[0] == '"') {
    for (i = 1; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
      out += exec[i];
    }
  } else {
    for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i) {
      out += exec[i];
    }
  }
  std::string plain;  // "%%" is one "%"
  for (std::size_t k = 0; k < out.size(); ++k) {
    plain += out[k];
    if (out[k] == '%' && k + 1 < out.size() && out[k + 1] == '%') ++k;
  }
  return plain;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, ec) && !ec;
}

std::string SystemError(const std::string& what, const fs::path& path,
                        int error) {
  return what + " " + path.string() + ": " + std::strerror(error);
}

// The whole text into a new sibling, flushed, then renamed over the entry.
bool WriteEntry(const fs::path& entry, const std::string& text,
                std::string* error) {
  std::error_code ec;
  fs::create_directories(entry.parent_path(), ec);
  const fs::path temporary =
      entry.parent_path() / ("." + entry.filename().string() + "." +
                             std::to_string(getpid()) + ".tmp");
  const int fd =
      open(temporary.c_str(),
           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *error = SystemError("cannot write in", entry.parent_path(), errno);
    return false;
  }
  std::size_t done = 0;
  int failure = 0;
  while (done < text.size() && failure == 0) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) failure = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (failure == 0 && fsync(fd) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && rename(temporary.c_str(), entry.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) {
    unlink(temporary.c_str());
    *error = SystemError("cannot write", entry, failure);
    return false;
  }
  return true;
}

}  // namespace

std::string LoginStartEntryText(const fs::path& program,
                                const fs::path& folder) {
  if (!IsUtf8(program.string()) || !IsUtf8(folder.string())) return "";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=VESKA\n"
         "Comment=Hear your computer work: CPU, RAM and disk load as looping "
         "sound\n"
         "Exec=" +
         EscapeValue(QuoteProgram(program.string())) +
         "\n"
         "Path=" +
         EscapeValue(folder.string()) +
         "\n"
         "Icon=veska\n"
         "Terminal=false\n";
}

LoginStartTarget ReadLoginStartEntry(const std::string& text) {
  std::istringstream lines(text);
  std::string line, exec, path;
  bool in_entry = false, disabled = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_entry = line == "[Desktop Entry]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!in_entry || equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string value = line.substr(equals + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (key == "Exec") exec = UnescapeValue(value);
    if (key == "Path") path = UnescapeValue(value);
    if ((key == "Hidden" && value == "true") ||
        (key == "X-GNOME-Autostart-enabled" && value == "false")) {
      disabled = true;
    }
  }
  if (disabled || exec.empty()) return {};
  return {FirstArgument(exec), path};
}

LoginStart::LoginStart(fs::path autostart_folder, fs::path program,
                       fs::path folder)
    : autostart_folder_(std::move(autostart_folder)),
      program_(std::move(program)),
      folder_(std::move(folder)) {}

fs::path LoginStart::Entry() const { return autostart_folder_ / kEntryName; }

fs::path LoginStart::Program() const {
  if (!program_.empty()) return program_;
  std::error_code ec;
  std::string program = fs::read_symlink("/proc/self/exe", ec).string();
  // A program rebuilt or upgraded while it runs: the new file is the one
  // to start at login.
  constexpr std::string_view kGone = " (deleted)";
  if (program.ends_with(kGone) && !fs::exists(program, ec)) {
    program.resize(program.size() - kGone.size());
  }
  return program;
}

fs::path LoginStart::Folder() const {
  if (!folder_.empty()) return folder_;
  std::error_code ec;
  return fs::current_path(ec);
}

bool LoginStart::Exists() const {
  if (autostart_folder_.empty()) return false;
  std::ifstream file(Entry(), std::ios::binary);
  if (!file) return false;
  std::string text(static_cast<std::size_t>(kLargestEntry), '\0');
  file.read(text.data(), kLargestEntry);
  text.resize(static_cast<std::size_t>(file.gcount()));
  const LoginStartTarget target = ReadLoginStartEntry(text);
  // A relative program or folder depends on where the desktop starts it.
  return target.program.starts_with('/') && target.folder.starts_with('/') &&
         SameFile(target.program, Program()) &&
         SameFile(target.folder, Folder());
}

bool LoginStart::Set(bool on, std::string* error) const {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (autostart_folder_.empty()) {
    *error = "no folder for autostart entries was found (HOME is not set)";
    return false;
  }
  if (!on) {
    if (!Exists()) return true;  // someone else's entry stays
    if (unlink(Entry().c_str()) != 0 && errno != ENOENT) {
      *error = SystemError("cannot remove", Entry(), errno);
      return false;
    }
    return true;
  }
  const std::string text = LoginStartEntryText(Program(), Folder());
  if (text.empty()) {
    *error = "the path of the program or of its folder is not UTF-8 text";
    return false;
  }
  return WriteEntry(Entry(), text, error);
}

}  // namespace veska
