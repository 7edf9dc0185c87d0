#include "monitor/remote/sources_file.h"

#include "prefs/preferences_text.h"

namespace veska {
namespace {

bool Is(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         Is(text.substr(0, prefix.size()), prefix);
}

bool IsHttpUrl(std::string_view url) {
  return (StartsWithIgnoringCase(url, "http://") && url.size() > 7) ||
         (StartsWithIgnoringCase(url, "https://") && url.size() > 8);
}

// Applies one key of a source group; false for a key it does not know.
bool ApplyKey(SourceEntry& entry, bool& has_url, std::string_view key,
              const std::string& value, bool& holds_secret) {
  if (Is(key, "Exporter") || Is(key, "Prometheus")) {
    entry.kind = Is(key, "Exporter") ? SourceEntry::Kind::kExporter
                                     : SourceEntry::Kind::kPrometheus;
    entry.url = value;
    has_url = true;
    holds_secret = holds_secret || UrlForDisplay(value) != value;
  } else if (Is(key, "Selector")) {
    entry.selector = value;
  } else if (Is(key, "Window")) {
    entry.window = value;
  } else if (Is(key, "Token")) {
    entry.token = value;
    holds_secret = holds_secret || !value.empty();
  } else if (Is(key, "User")) {
    entry.user = value;
  } else if (Is(key, "Password")) {
    entry.password = value;
    holds_secret = holds_secret || !value.empty();
  } else if (Is(key, "VerifyTls")) {
    entry.verify_tls = value != "0" && !Is(value, "false") && !Is(value, "no");
  } else {
    return false;
  }
  return true;
}

}  // namespace

const SourceEntry* SourcesFile::Find(std::string_view name) const {
  for (const SourceEntry& source : sources) {
    if (Is(source.name, name)) return &source;
  }
  return nullptr;
}

std::string UrlForDisplay(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t host = scheme + 3;
  const std::size_t path = url.find_first_of("/?#", host);
  const std::size_t at = url.substr(0, path).rfind('@');
  if (at == std::string_view::npos || at < host) return std::string(url);
  return std::string(url.substr(0, host)) + std::string(url.substr(at + 1));
}

SourcesFile ReadSourcesText(std::string_view bytes) {
  bool utf8 = false;
  const std::string text = DecodePreferencesBytes(bytes, &utf8);
  SourcesFile file;
  SourceEntry entry;
  bool in_group = false, in_listen = false, has_url = false;
  auto finish = [&] {
    if (!in_group) return;
    if (!has_url) {
      file.problems.push_back("[" + entry.name +
                              "] names no Exporter or Prometheus address");
    } else if (!IsHttpUrl(entry.url)) {
      file.problems.push_back("[" + entry.name +
                              "]: the address must start with http:// or "
                              "https://");
    } else if (entry.name.empty() || file.Find(entry.name) != nullptr ||
               Is(entry.name, "This computer")) {
      file.problems.push_back("[" + entry.name +
                              "]: a source needs a name of its own");
    } else {
      file.sources.push_back(entry);
    }
  };
  for (const PreferenceEntry& line : ParsePreferencesText(text)) {
    const std::string value(TrimBlanks(line.value));
    if (line.kind == PreferenceKind::kGroup) {
      finish();
      in_listen = Is(line.name, kListenGroup);
      in_group = !in_listen;
      entry = SourceEntry{};
      entry.name = std::string(TrimBlanks(line.name));
      has_url = false;
    } else if (line.kind != PreferenceKind::kKey) {
      continue;
    } else if (in_listen) {
      if (Is(line.name, kListenKey)) file.listen = value;
    } else if (in_group &&
               !ApplyKey(entry, has_url, line.name, value, file.holds_secret)) {
      file.problems.push_back("[" + entry.name + "]: unknown key " + line.name);
    }
  }
  finish();
  return file;
}

}  // namespace veska
