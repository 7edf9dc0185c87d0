#include "prefs/preferences_store.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "prefs/held_file.h"
#include "prefs/preferences_text.h"

namespace veska {

struct PreferencesStore::State {
  std::unique_ptr<HeldFile> file;
  std::string file_name;
  std::optional<std::string> pending_file_name;
  bool created = false;  // the file is replaced at close, written or not
  bool modified = false;
  bool read_only_open = false;
  bool utf8 = false;
  std::vector<PreferenceEntry> entries;
  std::optional<size_t> current_group;  // none: the top section
  std::optional<std::string> pending_group;
  PreferencesHandle last_handle = 0;
  bool failure_told = false;

  bool HasFile() const { return file != nullptr || pending_file_name; }

  PreferencesHandle NextHandle() {
    if (++last_handle == 0) ++last_handle;
    return last_handle;
  }

  // The current section as [first, end) indices of `entries`, its group
  // entry excluded.
  std::pair<size_t, size_t> Section() const {
    size_t first = current_group ? *current_group + 1 : 0;
    size_t end = first;
    while (end < entries.size() &&
           entries[end].kind != PreferenceKind::kGroup) {
      ++end;
    }
    return {first, end};
  }

  PreferenceEntry* FindKey(std::string_view key) {
    if (!HasFile() || pending_group) return nullptr;
    auto [first, end] = Section();
    for (size_t i = first; i < end; ++i) {
      if (entries[i].kind == PreferenceKind::kKey &&
          EqualsIgnoringAsciiCase(entries[i].name, key)) {
        return &entries[i];
      }
    }
    return nullptr;
  }

  void Write(const std::string& key, std::string value) {
    if (!HasFile()) return;
    // Line breaks, "=" in a key or "]" in a group name would be read back as
    // other lines, so such a write is refused rather than spoil the file.
    if (!IsWritableKey(key) || !IsWritableValue(value) ||
        (pending_group && !IsWritableGroupName(*pending_group))) {
      return;
    }
    if (pending_group) {
      entries.push_back({PreferenceKind::kGroup, *pending_group, {}});
      current_group = entries.size() - 1;
      pending_group.reset();
    }
    if (PreferenceEntry* entry = FindKey(key)) {
      entry->name = key;
      entry->value = std::move(value);
    } else {
      size_t end = Section().second;
      entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(end),
                     {PreferenceKind::kKey, key, std::move(value)});
    }
    modified = true;
  }
};

PreferencesStore::PreferencesStore() : state_(std::make_unique<State>()) {}

PreferencesStore::~PreferencesStore() { ClosePreferences(); }

PreferencesHandle PreferencesStore::CreatePreferences(
    const std::string& file_name) {
  ClosePreferences();
  state_->file = HeldFile::Create(file_name);
  if (!state_->file) return 0;
  state_->file_name = file_name;
  state_->created = true;
  state_->utf8 = true;
  return state_->NextHandle();
}

PreferencesHandle PreferencesStore::OpenPreferences(
    const std::string& file_name) {
  ClosePreferences();
  // What killed saves left goes now, not at the next save, which may be
  // many starts away.
  RemoveDeadSaveSiblings(file_name);
  State& s = *state_;
  s.file = HeldFile::OpenExisting(file_name);
  s.file_name = file_name;
  if (!s.file) {
    s.utf8 = true;
    s.pending_file_name = file_name;
    return 0;
  }
  s.read_only_open = s.file->read_only();
  std::string bytes;
  if (!s.file->ReadAll(&bytes)) {
    // Nothing is known of the content, so nothing may be written over it.
    s.file.reset();
    s.read_only_open = false;
    return 0;
  }
  s.entries = ParsePreferencesText(DecodePreferencesBytes(bytes, &s.utf8));
  return s.NextHandle();
}

bool PreferencesStore::ClosePreferences() {
  State& s = *state_;
  bool saved = true;
  bool due = s.modified || s.created;
  std::string error;
  if (due) {
    // A created file that got no entries is left empty, without the mark.
    std::string text =
        s.modified ? FormatPreferencesText(s.entries, s.utf8) : std::string();
    if (s.file && !s.read_only_open) {
      saved = s.file->ReplaceContent(text, &error);
    } else if (!s.file && s.pending_file_name) {
      saved = WriteWholeFile(*s.pending_file_name, text, &error);
    } else if (s.file) {
      // A file that could only be read keeps what it had.
      saved = false;
      error = "it could only be opened for reading";
    }
  }
  if (saved) {
    if (due) s.failure_told = false;
  } else if (!s.failure_told) {
    std::fprintf(stderr, "VESKA: could not save %s: %s\n", s.file_name.c_str(),
                 error.c_str());
    s.failure_told = true;
  }
  PreferencesHandle last_handle = s.last_handle;
  bool failure_told = s.failure_told;
  s = State();
  s.last_handle = last_handle;
  s.failure_told = failure_told;
  return saved;
}

bool PreferencesStore::SelectGroup(const std::string& name) {
  State& s = *state_;
  s.pending_group.reset();
  if (!s.HasFile()) return false;
  if (name.empty()) {
    s.current_group.reset();
    return true;
  }
  for (size_t i = 0; i < s.entries.size(); ++i) {
    if (s.entries[i].kind == PreferenceKind::kGroup &&
        EqualsIgnoringAsciiCase(s.entries[i].name, name)) {
      s.current_group = i;
      return true;
    }
  }
  s.pending_group = name;
  return false;
}

std::string PreferencesStore::ReadString(const std::string& key,
                                         const std::string& default_value) {
  const PreferenceEntry* entry = state_->FindKey(key);
  return entry ? std::string(TrimBlanks(entry->value)) : default_value;
}

int32_t PreferencesStore::ReadInteger(const std::string& key,
                                      int32_t default_value) {
  const PreferenceEntry* entry = state_->FindKey(key);
  return entry ? ParseIntegerText(entry->value) : default_value;
}

double PreferencesStore::ReadFloat(const std::string& key,
                                   double default_value) {
  const PreferenceEntry* entry = state_->FindKey(key);
  // Untrimmed: "NaN" and the infinities must be the whole value, while a
  // number is read from the start and may be followed by anything.
  return entry ? ParseFloatText(entry->value) : default_value;
}

void PreferencesStore::WriteString(const std::string& key,
                                   const std::string& value) {
  state_->Write(key, value);
}

void PreferencesStore::WriteInteger(const std::string& key, int32_t value) {
  state_->Write(key, FormatIntegerText(value));
}

void PreferencesStore::WriteFloat(const std::string& key, double value) {
  state_->Write(key, FormatFloatText(value));
}

}  // namespace veska
