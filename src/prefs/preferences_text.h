// The preferences file format: bytes to entries and back, and number texts.
#ifndef VESKA_PREFS_PREFERENCES_TEXT_H_
#define VESKA_PREFS_PREFERENCES_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veska {

enum class PreferenceKind { kGroup, kComment, kKey };

// One line of a preferences file. `name` is the group name, the comment text
// or the key; `value` is used by keys only. Both are UTF-8.
struct PreferenceEntry {
  PreferenceKind kind = PreferenceKind::kKey;
  std::string name;
  std::string value;
};

// Turns the raw bytes of a file into UTF-8 text: after the UTF-8 mark, or
// without it when they are well-formed UTF-8, they are taken as they are;
// otherwise they are ISO-8859-1. `*utf8` tells whether the file, once
// rewritten, starts with the UTF-8 mark: true for everything except an
// empty file.
std::string DecodePreferencesBytes(std::string_view bytes, bool* utf8);

std::vector<PreferenceEntry> ParsePreferencesText(std::string_view text);

// The whole file as written back: the mark and a line break first when
// `utf8_mark`, then one CR LF-terminated line per entry.
std::string FormatPreferencesText(const std::vector<PreferenceEntry>& entries,
                                  bool utf8_mark);

// False for a group name, key or value that would read back as something
// else, or would change the lines around it, once written.
bool IsWritableGroupName(std::string_view name);
bool IsWritableKey(std::string_view key);
bool IsWritableValue(std::string_view value);

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Strips spaces and tabs at both ends.
std::string_view TrimBlanks(std::string_view text);

// The decimal integer at the start of `text` after white space, with one
// optional sign; 0 when there is none. Saturates at the int32 limits.
int32_t ParseIntegerText(std::string_view text);

std::string FormatIntegerText(int32_t value);

// "+Infinity", "-Infinity", "NaN", else printf's "%.64g".
std::string FormatFloatText(double value);

}  // namespace veska

#endif  // VESKA_PREFS_PREFERENCES_TEXT_H_
