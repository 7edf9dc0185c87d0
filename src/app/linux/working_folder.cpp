#include "app/linux/working_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace veska {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettingsFile = "settings.ini";
constexpr const char* kTrayImage = "VESKA.bmp";
constexpr const char* kPacksFolder = "packs";

bool Holds(const fs::path& folder, const char* name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(folder / name, ec));
}

// Links `name` in `folder` to the same name in `data`. Whatever the user put
// there is kept; only a missing entry, or a link left dangling by a package
// that moved, is (re)made.
void LinkToData(const fs::path& folder, const fs::path& data,
                const char* name) {
  const fs::path link = folder / name;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(link, ec);
  if (fs::exists(status)) {
    if (!fs::is_symlink(status) || fs::exists(link, ec)) return;
    fs::remove(link, ec);
  }
  fs::create_symlink(data / name, link, ec);
}

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home) {
    return home;
  }
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
    return entry->pw_dir;
  }
  return {};
}

}  // namespace

FolderPlaces CurrentFolderPlaces() {
  FolderPlaces places;
  std::error_code ec;
  places.current = fs::current_path(ec);
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    places.data =
        (program.parent_path() / ".." / "share" / "veska").lexically_normal();
  }
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    places.config_home = config;
  } else if (const fs::path home = HomeFolder(); !home.empty()) {
    places.config_home = home / ".config";
  }
  return places;
}

fs::path ChooseWorkingFolder(const FolderPlaces& places, std::string* error) {
  if (Holds(places.current, kSettingsFile) ||
      Holds(places.current, kTrayImage)) {
    return places.current;
  }
  std::error_code ec;
  if (places.data.empty() ||
      !fs::is_directory(places.data / kPacksFolder, ec)) {
    return places.current;  // not installed: run where started, as always
  }
  if (places.config_home.empty()) {
    if (error) *error = "VESKA found no home folder for its settings.";
    return places.current;
  }
  fs::path folder = places.config_home / "veska";
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    if (error) {
      *error = "VESKA cannot make its settings folder " + folder.string() +
               ": " + ec.message();
    }
    return places.current;
  }
  LinkToData(folder, places.data, kPacksFolder);
  LinkToData(folder, places.data, kTrayImage);
  return folder;
}

FolderPlaces EnterWorkingFolder() {
  const FolderPlaces places = CurrentFolderPlaces();
  std::string error;
  const fs::path folder = ChooseWorkingFolder(places, &error);
  std::error_code ec;
  if (folder != places.current) fs::current_path(folder, ec);
  if (ec) {
    error = "VESKA cannot work in " + folder.string() + ": " + ec.message();
  }
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  return places;
}

}  // namespace veska
