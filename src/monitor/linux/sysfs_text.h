// Small files of /proc and /sys read whole, and the one line a source says
// on standard error when it stops answering.
#ifndef VESKA_MONITOR_LINUX_SYSFS_TEXT_H_
#define VESKA_MONITOR_LINUX_SYSFS_TEXT_H_

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veska {

// The file's text, at most `limit` bytes of it; none when it cannot be
// opened or read (a missing file, or a driver that refuses the read).
std::optional<std::string> ReadSmallFile(const std::string& path,
                                         std::size_t limit = 4096);
// The file's first word as a number; none when there is no such number.
std::optional<double> ReadNumberFile(const std::string& path);
// The file's first line without its end.
std::optional<std::string> ReadLineFile(const std::string& path);
// The names in `folder` that start with `prefix`, sorted; none missing.
std::vector<std::string> ListEntries(const std::string& folder,
                                     std::string_view prefix = "");

// Tells once that a source gives nothing, and again only after it has given
// something in between, so a lasting fault is one line, not one a sample.
class SilenceNotice {
 public:
  explicit SilenceNotice(std::FILE* messages) : messages_(messages) {}
  // Returns `answered`.
  bool Note(bool answered, const std::string& what);
  void Reset() { told_ = false; }

 private:
  std::FILE* messages_;
  bool told_ = false;
};

}  // namespace veska

#endif  // VESKA_MONITOR_LINUX_SYSFS_TEXT_H_
