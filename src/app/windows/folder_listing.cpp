// The MinGW runtime's wide folder listing, which std::filesystem's
// directory_iterator calls, turns a folder's path into a full path in a
// buffer of 260 characters; past that it silently lists the working folder
// instead. These take its place in the program (linked as an object, so
// that the runtime's own are never pulled in) and list any folder the
// system can, through FindFirstFileExW, with the long-path prefix when the
// path needs it.
#include <dirent.h>
#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <new>
#include <string>

namespace {

struct Listing {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found{};
  bool pending = false;  // `found` not handed out yet
  _wdirent entry{};
  long position = 0;
};

Listing* AsListing(_WDIR* folder) { return reinterpret_cast<Listing*>(folder); }

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return ENOENT;
  }
}

// "FOLDER\*" in full, with "\\?\" before a drive or share path too long
// for the system's plain form.
std::wstring Pattern(const wchar_t* folder) {
  DWORD size = GetFullPathNameW(folder, 0, nullptr, nullptr);
  if (size == 0) return L"";
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(folder, size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return L"";
  full.resize(size);
  if (full.back() != L'\\') full += L'\\';
  full += L'*';
  if (full.size() >= MAX_PATH && full.rfind(L"\\\\", 0) != 0) {
    return L"\\\\?\\" + full;
  }
  if (full.size() >= MAX_PATH && full.rfind(L"\\\\?\\", 0) != 0 &&
      full.rfind(L"\\\\.\\", 0) != 0) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return full;
}

}  // namespace

extern "C" {

_WDIR* __cdecl _wopendir(const wchar_t* folder) {
  if (folder == nullptr || *folder == L'\0') {
    errno = ENOENT;
    return nullptr;
  }
  const std::wstring pattern = Pattern(folder);
  if (pattern.empty()) {
    errno = ErrnoOf(GetLastError());
    return nullptr;
  }
  auto* listing = new (std::nothrow) Listing;
  if (listing == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  listing->find =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &listing->found,
                       FindExSearchNameMatch, nullptr, 0);
  if (listing->find == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    delete listing;
    return nullptr;
  }
  listing->pending = true;
  return reinterpret_cast<_WDIR*>(listing);
}

// At the end errno is left as it was: the caller tells the end from a
// failure by it.
struct _wdirent* __cdecl _wreaddir(_WDIR* folder) {
  Listing* listing = AsListing(folder);
  if (listing == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  if (!listing->pending) {
    if (!FindNextFileW(listing->find, &listing->found)) {
      if (GetLastError() != ERROR_NO_MORE_FILES) errno = EIO;
      return nullptr;
    }
  }
  listing->pending = false;
  _wdirent& entry = listing->entry;
  const size_t length = std::wcslen(listing->found.cFileName);
  const size_t kept = length < 259 ? length : 259;
  std::wmemcpy(entry.d_name, listing->found.cFileName, kept);
  entry.d_name[kept] = L'\0';
  entry.d_namlen = static_cast<unsigned short>(kept);
  ++listing->position;
  return &entry;
}

int __cdecl _wclosedir(_WDIR* folder) {
  Listing* listing = AsListing(folder);
  if (listing == nullptr) {
    errno = EBADF;
    return -1;
  }
  FindClose(listing->find);
  delete listing;
  return 0;
}

// The rest of the runtime's set, unused by the program, so that nothing
// pulls the runtime's own in beside these.
void __cdecl _wrewinddir(_WDIR*) {}
long __cdecl _wtelldir(_WDIR* folder) {
  return folder != nullptr ? AsListing(folder)->position : -1;
}
void __cdecl _wseekdir(_WDIR*, long) {}

}  // extern "C"
