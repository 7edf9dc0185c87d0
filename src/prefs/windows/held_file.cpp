// Win32 file calls for the preferences store.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "prefs/held_file.h"

namespace veska {

struct HeldFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool read_only = false;
  std::wstring path;  // full path taken at open

  ~Handle() { Release(); }
  void Release() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
};

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
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

bool WriteInPlace(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  while (!bytes.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return SetEndOfFile(file) && FlushFileBuffers(file);
}

// Writes and flushes a sibling of `target`; its name goes to `temp`.
bool WriteSibling(const std::wstring& target, std::string_view bytes,
                  std::wstring* temp) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    *temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
            std::to_wstring(serial++) + L".tmp";
    HANDLE file = CreateFileW(temp->c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    bool written = WriteInPlace(file, bytes);
    CloseHandle(file);
    if (!written) DeleteFileW(temp->c_str());
    return written;
  }
  return false;
}

bool RenameOver(const std::wstring& temp, const std::wstring& target) {
  if (MoveFileExW(temp.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temp.c_str());
  return false;
}

std::unique_ptr<HeldFile> HoldIfDiskFile(
    std::unique_ptr<HeldFile::Handle> handle, const std::wstring& name) {
  if (GetFileType(handle->file) != FILE_TYPE_DISK) return nullptr;
  handle->path = FullPath(name);
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
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle->file == INVALID_HANDLE_VALUE) return nullptr;
  return HoldIfDiskFile(std::move(handle), wide);
}

HeldFile::HeldFile(std::unique_ptr<Handle> handle)
    : handle_(std::move(handle)) {}

HeldFile::~HeldFile() = default;

bool HeldFile::read_only() const { return !handle_ || handle_->read_only; }

bool HeldFile::ReadAll(std::string* bytes) {
  bytes->clear();
  if (!handle_) return false;
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(handle_->file, start, nullptr, FILE_BEGIN)) {
    return false;
  }
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

bool HeldFile::ReplaceContent(std::string_view bytes) {
  if (read_only()) return false;
  std::wstring temp;
  bool done = false;
  if (WriteSibling(handle_->path, bytes, &temp)) {
    // Our own handle does not share deletion, so it must go before the
    // rename; if the rename then fails, the file is opened again.
    handle_->Release();
    done = RenameOver(temp, handle_->path);
    if (!done) {
      handle_->file =
          CreateFileW(handle_->path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  if (!done && handle_->file != INVALID_HANDLE_VALUE) {
    done = WriteInPlace(handle_->file, bytes);
  }
  handle_.reset();
  return done;
}

bool WriteWholeFile(const std::string& name, std::string_view bytes) {
  std::wstring target = FullPath(Widen(name));
  if (target.empty()) return false;
  std::wstring temp;
  if (WriteSibling(target, bytes, &temp) && RenameOver(temp, target)) {
    return true;
  }
  HANDLE file =
      CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool done = WriteInPlace(file, bytes);
  CloseHandle(file);
  return done;
}

}  // namespace veska
