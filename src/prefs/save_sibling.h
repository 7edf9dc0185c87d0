// A save writes the new content to a sibling of the file first and renames
// it over the file. The sibling's name says which process made it, so that
// a later save can remove those of saves that were killed.
#ifndef VESKA_PREFS_SAVE_SIBLING_H_
#define VESKA_PREFS_SAVE_SIBLING_H_

#include <cstdint>
#include <string_view>

namespace veska {

// The process that made `entry`, a sibling named
// "<lead><name>.<process>.<serial>.tmp"; 0 for any other name. Process
// numbers are 32-bit on every platform the store runs on.
template <typename Char>
uint32_t SaveSiblingOwner(std::basic_string_view<Char> entry,
                          std::basic_string_view<Char> name,
                          std::basic_string_view<Char> lead) {
  constexpr Char kTail[] = {'.', 't', 'm', 'p'};
  const std::basic_string_view<Char> tail(kTail, 4);
  if (entry.size() <= lead.size() + name.size() + tail.size() + 1 ||
      !entry.starts_with(lead) || !entry.ends_with(tail) ||
      entry.substr(lead.size(), name.size()) != name ||
      entry[lead.size() + name.size()] != Char('.')) {
    return 0;
  }
  entry = entry.substr(lead.size() + name.size() + 1);
  entry.remove_suffix(tail.size());
  // Digits only: no sign, no space, and nothing a wider count would wrap.
  auto number = [](std::basic_string_view<Char> text, size_t most,
                   uint64_t* value) {
    if (text.empty() || text.size() > most) return false;
    *value = 0;
    for (Char c : text) {
      if (c < Char('0') || c > Char('9')) return false;
      *value = *value * 10 + uint64_t(c - Char('0'));
    }
    return true;
  };
  const size_t dot = entry.find(Char('.'));
  uint64_t process = 0, serial = 0;
  if (dot == entry.npos || !number(entry.substr(0, dot), 10, &process) ||
      !number(entry.substr(dot + 1), 19, &serial) || process == 0 ||
      process > UINT32_MAX) {
    return 0;
  }
  return uint32_t(process);
}

}  // namespace veska

#endif  // VESKA_PREFS_SAVE_SIBLING_H_
