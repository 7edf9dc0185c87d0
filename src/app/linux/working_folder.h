// Where the program keeps its files on a Linux desktop. The core reads
// "settings.ini" and "VESKA.bmp" from, and opens the soundpack browser in
// "packs" under, the working folder; an installed program started from the
// menu runs in whatever folder the desktop picks, so it moves itself.
#ifndef VESKA_APP_LINUX_WORKING_FOLDER_H_
#define VESKA_APP_LINUX_WORKING_FOLDER_H_

#include <filesystem>
#include <string>

namespace veska {

// The folders the choice is made from, gathered from the process so that a
// test can give its own.
struct FolderPlaces {
  std::filesystem::path current;      // the working folder at start
  std::filesystem::path data;         // the installed data (packs, image)
  std::filesystem::path config_home;  // $XDG_CONFIG_HOME or ~/.config
};

// The places of this process: the installed data folder is
// ../share/veska beside the executable, so that the package can be moved.
FolderPlaces CurrentFolderPlaces();

// The folder the program should run in. The current folder when it already
// holds "settings.ini" or "VESKA.bmp", or when no installed data folder
// exists (a build run in place). Otherwise config_home/veska, made when
// missing, with "packs" and "VESKA.bmp" there linked to the installed data
// unless the user has put something of their own under those names.
// `error` gets a line for standard error when the folder cannot be made;
// the current folder is returned then.
std::filesystem::path ChooseWorkingFolder(const FolderPlaces& places,
                                          std::string* error);

// Chooses with the places of this process and changes into the folder; on
// failure says why on standard error and stays where it is. Returns the
// places it chose from.
FolderPlaces EnterWorkingFolder();

}  // namespace veska

#endif  // VESKA_APP_LINUX_WORKING_FOLDER_H_
