// "sources.ini" in the working folder: the machines VESKA can listen to
// besides this computer, one group per source, and the one listened to.
//
//   [web]
//   Prometheus = http://127.0.0.1:9090
//   Selector = job="node"
//
//   [db1]
//   Exporter = https://db1.example:9100/metrics
//   Token = ...
//
//   [Listen]
//   Source = web
#ifndef VESKA_MONITOR_REMOTE_SOURCES_FILE_H_
#define VESKA_MONITOR_REMOTE_SOURCES_FILE_H_

#include <string>
#include <string_view>
#include <vector>

namespace veska {

inline constexpr const char* kSourcesFileName = "sources.ini";
// The group that keeps the choice, and its key.
inline constexpr const char* kListenGroup = "Listen";
inline constexpr const char* kListenKey = "Source";

struct SourceEntry {
  enum class Kind { kExporter, kPrometheus };
  std::string name;
  Kind kind = Kind::kExporter;
  std::string url;
  std::string selector;  // a fleet's label matchers
  std::string window;    // a fleet's rate window ("2m")
  std::string token;
  std::string user;
  std::string password;
  bool verify_tls = true;
};

struct SourcesFile {
  std::vector<SourceEntry> sources;
  // The source listened to when last chosen; "" for this computer.
  std::string listen;
  bool holds_secret = false;
  // What was left out and why, one line each, never with a secret.
  std::vector<std::string> problems;

  // The source named so (ASCII case ignored), or null.
  const SourceEntry* Find(std::string_view name) const;
};

// Reads the file's bytes. Groups without a source, with an address that is
// not http(s), or with a name given twice are left out with a problem.
SourcesFile ReadSourcesText(std::string_view bytes);

// The URL as it may be shown: without any user or password inside it.
std::string UrlForDisplay(std::string_view url);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_SOURCES_FILE_H_
