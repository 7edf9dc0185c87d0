// Win32 file calls for the preferences store.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>

#include "prefs/held_file.h"
#include "prefs/save_sibling.h"

namespace veska {
namespace {

// A save result: ERROR_SUCCESS when done, else a Win32 error code or this,
// which says that the file can only be written in place.
constexpr DWORD kNoRename = 0xFFFFFFFF;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  while (length > 0 &&
         (std::iswspace(text[length - 1]) || text[length - 1] == L'.')) {
    --length;
  }
  std::string utf8;
  int size = length == 0 ? 0
                         : WideCharToMultiByte(CP_UTF8, 0, text,
                                               static_cast<int>(length),
                                               nullptr, 0, nullptr, nullptr);
  if (size > 0) {
    utf8.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(),
                        size, nullptr, nullptr);
  }
  if (text != nullptr) LocalFree(text);
  return utf8.empty() ? "Windows error " + std::to_string(code) : utf8;
}

std::wstring FullPath(const std::wstring& name) {
  DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return name;
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return name;
  full.resize(length);
  return full;
}

// The path a handle's file really has, so that a symbolic link stays a link
// and the replace goes to the file it leads to.
std::wstring FinalPath(HANDLE file, const std::wstring& fallback) {
  DWORD length = GetFinalPathNameByHandleW(file, nullptr, 0, 0);
  if (length == 0) return fallback;
  std::wstring path(length, L'\0');
  length = GetFinalPathNameByHandleW(file, path.data(), length, 0);
  if (length == 0 || length >= path.size()) return fallback;
  path.resize(length);
  return path;
}

DWORD WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
      return GetLastError();
    }
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(written);
  }
  return ERROR_SUCCESS;
}

DWORD MoveTo(HANDLE file, int64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ? ERROR_SUCCESS
                                                         : GetLastError();
}

// In one write, so that a kill leaves the old bytes or the new: a shorter
// content goes out followed by line ends up to the old length (blank lines
// to the reader), and only then is the end cut. No file can be both
// rewritten and shortened in one step.
DWORD WriteInPlace(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return GetLastError();
  auto new_size = static_cast<int64_t>(bytes.size());
  // Room first, so that a full disk leaves the old content whole: as
  // allocation, not as length, so that a kill leaves no zeros at the end.
  if (new_size > size.QuadPart) {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = new_size;
    if (!SetFileInformationByHandle(file, FileAllocationInfo, &room,
                                    sizeof room)) {
      const DWORD error = GetLastError();
      if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
        return error;
      }
    }
  }
  std::string padded;
  if (size.QuadPart > new_size) {
    padded.reserve(static_cast<size_t>(size.QuadPart));
    padded.append(bytes).append(static_cast<size_t>(size.QuadPart - new_size),
                                '\n');
  }
  if (DWORD error = MoveTo(file, 0)) return error;
  if (DWORD error = WriteAll(file, padded.empty() ? bytes : padded)) {
    return error;
  }
  if (DWORD error = MoveTo(file, new_size)) return error;
  if (!SetEndOfFile(file) || !FlushFileBuffers(file)) return GetLastError();
  return ERROR_SUCCESS;
}

DWORD WriteInPlaceAt(const std::wstring& path, std::string_view bytes) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = WriteInPlace(file, bytes);
  CloseHandle(file);
  return error;
}

bool ProcessHasEnded(DWORD id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// Siblings of `path` left behind by saves that were killed.
void RemoveDeadSiblings(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  std::wstring lead =
      slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  std::wstring name = path.substr(lead.size());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L".*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD owner = SaveSiblingOwner<wchar_t>(found.cFileName, name, L"");
    if (owner != 0 && owner != GetCurrentProcessId() &&
        ProcessHasEnded(owner)) {
      DeleteFileW((lead + found.cFileName).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// A file's next content while it is written: a sibling, moved over the file
// once complete and flushed. Removed if it never gets there.
class Sibling {
 public:
  Sibling() = default;
  Sibling(const Sibling&) = delete;
  Sibling& operator=(const Sibling&) = delete;
  ~Sibling() { Drop(); }

  // ERROR_SUCCESS or the error of the failed create.
  DWORD Make(const std::wstring& target) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
      path_ = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
              std::to_wstring(serial++) + L".tmp";
      file_ = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file_ != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
      if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    DWORD error = GetLastError();
    path_.clear();
    return error;
  }

  // Writes, flushes and moves the sibling over `target`: ERROR_SUCCESS,
  // kNoRename or the error. The target is untouched unless it succeeds.
  DWORD Finish(const std::wstring& target, std::string_view bytes) {
    DWORD error = WriteAll(file_, bytes);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file_)) {
      error = GetLastError();
    }
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (error != ERROR_SUCCESS) return error;
    // ReplaceFileW keeps the old file's attributes and security; a file
    // that is not there yet is simply moved into place.
    if (!ReplaceFileW(target.c_str(), path_.c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) &&
        !MoveFileExW(path_.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();
      // Kept from us, or open elsewhere without sharing its deletion: the
      // file itself may still be written.
      if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
          error == ERROR_NOT_SAME_DEVICE) {
        error = kNoRename;
      }
      return error;
    }
    path_.clear();
    return ERROR_SUCCESS;
  }

 private:
  void Drop() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!path_.empty()) DeleteFileW(path_.c_str());
    path_.clear();
  }

  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
};

DWORD SaveBeside(const std::wstring& target, std::string_view bytes) {
  Sibling sibling;
  DWORD error = sibling.Make(target);
  if (error == ERROR_ACCESS_DENIED) return kNoRename;
  return error != ERROR_SUCCESS ? error : sibling.Finish(target, bytes);
}

}  // namespace

struct HeldFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;  // none for a created file not there
  bool read_only = false;
  std::wstring path;                 // full path taken at open
  std::unique_ptr<Sibling> sibling;  // a created file's new content

  ~Handle() { Release(); }
  void Release() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
};

namespace {

std::unique_ptr<HeldFile> HoldIfDiskFile(
    std::unique_ptr<HeldFile::Handle> handle, const std::wstring& name) {
  if (GetFileType(handle->file) != FILE_TYPE_DISK) return nullptr;
  handle->path = FinalPath(handle->file, FullPath(name));
  return std::make_unique<HeldFile>(std::move(handle));
}

}  // namespace

std::unique_ptr<HeldFile> HeldFile::OpenExisting(const std::string& name) {
  std::wstring wide = Widen(name);
  if (wide.empty()) return nullptr;
  auto handle = std::make_unique<Handle>();
  handle->file =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle->file == INVALID_HANDLE_VALUE) {
    handle->read_only = true;
    handle->file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle->file == INVALID_HANDLE_VALUE) {
    // Another program writing the file leaves us reading alongside it.
    handle->file = CreateFileW(wide.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle->file == INVALID_HANDLE_VALUE) return nullptr;
  return HoldIfDiskFile(std::move(handle), wide);
}

std::unique_ptr<HeldFile> HeldFile::Create(const std::string& name) {
  std::wstring wide = Widen(name);
  if (wide.empty()) return nullptr;
  auto handle = std::make_unique<Handle>();
  handle->file =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle->file != INVALID_HANDLE_VALUE) {
    return HoldIfDiskFile(std::move(handle), wide);
  }
  if (GetLastError() != ERROR_FILE_NOT_FOUND) return nullptr;
  handle->path = FullPath(wide);
  handle->sibling = std::make_unique<Sibling>();
  if (handle->sibling->Make(handle->path) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<HeldFile>(std::move(handle));
}

HeldFile::HeldFile(std::unique_ptr<Handle> handle)
    : handle_(std::move(handle)) {}

HeldFile::~HeldFile() = default;

bool HeldFile::read_only() const { return !handle_ || handle_->read_only; }

bool HeldFile::ReadAll(std::string* bytes) {
  bytes->clear();
  if (!handle_ || handle_->file == INVALID_HANDLE_VALUE) return false;
  if (MoveTo(handle_->file, 0) != ERROR_SUCCESS) return false;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle_->file, chunk, sizeof chunk, &got, nullptr)) {
      return false;
    }
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
}

bool HeldFile::ReplaceContent(std::string_view bytes, std::string* error) {
  if (read_only()) {
    *error = "it is open for reading only";
    handle_.reset();
    return false;
  }
  std::unique_ptr<Handle> held = std::move(handle_);
  RemoveDeadSiblings(held->path);
  DWORD result = ERROR_SUCCESS;
  BY_HANDLE_FILE_INFORMATION info;
  if (held->sibling) {
    result = held->sibling->Finish(held->path, bytes);
    if (result == kNoRename) result = WriteInPlaceAt(held->path, bytes);
  } else if (!GetFileInformationByHandle(held->file, &info)) {
    result = GetLastError();
  } else if (info.nNumberOfLinks > 1) {
    // A replace would split the file from its other names.
    result = WriteInPlace(held->file, bytes);
  } else {
    // Our own handle does not share deletion, so it goes before the
    // replace; the file is opened again to be written in place.
    held->Release();
    result = SaveBeside(held->path, bytes);
    if (result == kNoRename) result = WriteInPlaceAt(held->path, bytes);
  }
  if (result != ERROR_SUCCESS) *error = ErrorText(result);
  return result == ERROR_SUCCESS;
}

void RemoveDeadSaveSiblings(const std::string& name) {
  const std::wstring wide = Widen(name);
  if (wide.empty()) return;
  // Beside the file a link leads to, where its saves write.
  std::wstring path = FullPath(wide);
  HANDLE file =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    path = FinalPath(file, path);
    CloseHandle(file);
  }
  RemoveDeadSiblings(path);
}

bool WriteWholeFile(const std::string& name, std::string_view bytes,
                    std::string* error) {
  std::wstring target = FullPath(Widen(name));
  DWORD result = target.empty() ? ERROR_INVALID_NAME : ERROR_SUCCESS;
  if (result == ERROR_SUCCESS) {
    RemoveDeadSiblings(target);
    result = SaveBeside(target, bytes);
  }
  if (result == kNoRename) result = WriteInPlaceAt(target, bytes);
  if (result != ERROR_SUCCESS) *error = ErrorText(result);
  return result == ERROR_SUCCESS;
}

}  // namespace veska
