// The store's hold on a file from open to close. Each platform folder
// defines it; the store never asks which platform it is on.
#ifndef VESKA_PREFS_HELD_FILE_H_
#define VESKA_PREFS_HELD_FILE_H_

#include <memory>
#include <string>
#include <string_view>

namespace veska {

class HeldFile {
 public:
  struct Handle;  // platform-defined

  // Opens an existing regular file for reading and writing, else for reading
  // only (read_only() then says so). Null when neither works.
  static std::unique_ptr<HeldFile> OpenExisting(const std::string& name);
  // Makes sure the file can be written, without touching it: an existing
  // file is held for writing, and where there is none the new file's first
  // form is made beside it. Null when neither works. The old content stays
  // until ReplaceContent.
  static std::unique_ptr<HeldFile> Create(const std::string& name);

  explicit HeldFile(std::unique_ptr<Handle> handle);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool read_only() const;
  bool ReadAll(std::string* bytes);

  // Makes `bytes` the whole content: a new file beside the old one, flushed
  // and renamed over it, so that an interrupted save leaves either version;
  // in place only where the rename is impossible (another name of the same
  // file, a folder closed to new files). Releases the file either way.
  // False, with the reason in `*error`, when the content could not be
  // written; the file then keeps what it had.
  bool ReplaceContent(std::string_view bytes, std::string* error);

 private:
  std::unique_ptr<Handle> handle_;
};

// Writes `bytes` as the file `name` where no file was held, replacing any
// file of that name the same way as HeldFile::ReplaceContent.
bool WriteWholeFile(const std::string& name, std::string_view bytes,
                    std::string* error);

// Removes the siblings that saves of `name` left when they were killed
// before their end: those whose process no longer exists. A running
// process's sibling stays.
void RemoveDeadSaveSiblings(const std::string& name);

}  // namespace veska

#endif  // VESKA_PREFS_HELD_FILE_H_
