// Element name ("cpu", "cpua3", "Diskb", ...) to the handle of its sound.
#ifndef VESKA_SOUNDPACK_SOUND_TABLE_H_
#define VESKA_SOUNDPACK_SOUND_TABLE_H_

#include <cstdint>
#include <string>
#include <unordered_map>

namespace veska {

class SoundTable {
 public:
  SoundTable() { entries_.reserve(512); }

  // Case-sensitive. A key not yet in the table is added with handle 0, so an
  // element a soundpack lacks reads as "no sound".
  int32_t& FindOrAdd(const std::string& key) { return entries_[key]; }

  void Clear() { entries_.clear(); }
  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }

  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& [key, handle] : entries_) visit(key, handle);
  }

 private:
  std::unordered_map<std::string, int32_t> entries_;
};

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUND_TABLE_H_
