#include "monitor/linux/sysfs_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace veska {

std::optional<std::string> ReadSmallFile(const std::string& path,
                                         std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text(limit, '\0');
  std::size_t filled = 0;
  bool failed = false;
  while (filled < limit) {
    const ssize_t got = ::read(fd, text.data() + filled, limit - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (failed) return std::nullopt;
  text.resize(filled);
  return text;
}

std::optional<double> ReadNumberFile(const std::string& path) {
  const std::optional<std::string> text = ReadSmallFile(path, 64);
  if (!text) return std::nullopt;
  const char* begin = text->data();
  const char* end = begin + text->size();
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  double value = 0.0;
  const auto [next, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || next == begin) return std::nullopt;
  return value;
}

std::optional<std::string> ReadLineFile(const std::string& path) {
  std::optional<std::string> text = ReadSmallFile(path, 256);
  if (!text) return std::nullopt;
  text->erase(std::min(text->find('\n'), text->size()));
  return text;
}

std::vector<std::string> ListEntries(const std::string& folder,
                                     std::string_view prefix) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  for (; !error && it != std::filesystem::directory_iterator();
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.starts_with(prefix)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool SilenceNotice::Note(bool answered, const std::string& what) {
  if (answered) {
    told_ = false;
  } else if (!told_) {
    told_ = true;
    std::fprintf(messages_, "VESKA: %s\n", what.c_str());
    std::fflush(messages_);
  }
  return answered;
}

}  // namespace veska
