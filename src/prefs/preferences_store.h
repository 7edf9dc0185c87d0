// INI-style key/value files, one current file at a time.
// It owns the current file, needs only the file system, and knows nothing of
// the layers above.
#ifndef VESKA_PREFS_PREFERENCES_STORE_H_
#define VESKA_PREFS_PREFERENCES_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace veska {

// Non-zero names the open file.
using PreferencesHandle = std::uintptr_t;

class PreferencesStore {
 public:
  PreferencesStore();
  ~PreferencesStore();  // closes the current file
  PreferencesStore(const PreferencesStore&) = delete;
  PreferencesStore& operator=(const PreferencesStore&) = delete;

  // Zero when the file can be neither created nor written. An existing file
  // keeps its content until the close replaces it whole.
  PreferencesHandle CreatePreferences(const std::string& file_name);
  // Also removes what saves of the file that were killed left beside it.
  PreferencesHandle OpenPreferences(const std::string& file_name);
  // Writes the current file if it was changed, or was created, and forgets
  // it. False when the file does not hold what was written (it then keeps
  // its earlier content); the first such failure after a success is also
  // told on standard error.
  bool ClosePreferences();

  bool SelectGroup(const std::string& name);
  std::string ReadString(const std::string& key,
                         const std::string& default_value);
  int32_t ReadInteger(const std::string& key, int32_t default_value);
  double ReadFloat(const std::string& key, double default_value);
  void WriteString(const std::string& key, const std::string& value);
  void WriteInteger(const std::string& key, int32_t value);
  void WriteFloat(const std::string& key, double value);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reads the number at the start of `text` as the store reads float values:
// "+Infinity", "-Infinity" and "NaN" (the whole text, any letter case), else
// the longest leading decimal number after blanks; 0 when there is none.
double ParseFloatText(std::string_view text);

}  // namespace veska

#endif  // VESKA_PREFS_PREFERENCES_STORE_H_
