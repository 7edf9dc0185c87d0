// The preferences file format: any bytes decode and parse; what is written
// back reads as the same entries; every value reads as a number without
// harm, and a written float reads back as the same double.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "prefs/preferences_store.h"
#include "prefs/preferences_text.h"

namespace {

using veska::PreferenceEntry;

bool SameEntries(const std::vector<PreferenceEntry>& a,
                 const std::vector<PreferenceEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].name != b[i].name ||
        a[i].value != b[i].value) {
      return false;
    }
  }
  return true;
}

bool SameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool utf8 = false;
  const std::string text = veska::DecodePreferencesBytes(bytes, &utf8);
  const std::vector<PreferenceEntry> entries =
      veska::ParsePreferencesText(text);

  const std::string written = veska::FormatPreferencesText(entries, utf8);
  bool utf8_again = false;
  const std::vector<PreferenceEntry> again = veska::ParsePreferencesText(
      veska::DecodePreferencesBytes(written, &utf8_again));
  if (!SameEntries(entries, again)) std::abort();

  for (const PreferenceEntry& entry : entries) {
    if (entry.kind != veska::PreferenceKind::kKey) continue;
    (void)veska::ParseIntegerText(entry.value);
    const double value = veska::ParseFloatText(entry.value);
    const double read_back =
        veska::ParseFloatText(veska::FormatFloatText(value));
    if (!SameDouble(value, read_back)) std::abort();
  }
  return 0;
}
