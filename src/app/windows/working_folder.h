// Where the program works on Windows. The core reads "settings.ini" and
// "VESKA.bmp" from, and opens the soundpack browser in "packs" under, the
// working folder; a shortcut or a command line may start it anywhere.
#ifndef VESKA_APP_WINDOWS_WORKING_FOLDER_H_
#define VESKA_APP_WINDOWS_WORKING_FOLDER_H_

#include <filesystem>

namespace veska {

// The folder to work in: `current` when it holds "settings.ini" or
// "VESKA.bmp" (a folder set up to run in), else `program` when that holds
// "VESKA.bmp" (the unzipped package), else `current`.
std::filesystem::path ChooseWindowsWorkingFolder(
    const std::filesystem::path& current, const std::filesystem::path& program);

// Chooses with this process's folders and changes into the choice; stays
// where it is when that fails.
void EnterWindowsWorkingFolder();

}  // namespace veska

#endif  // VESKA_APP_WINDOWS_WORKING_FOLDER_H_
