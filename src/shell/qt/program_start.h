// Starting another program by name, without a shell and without waiting.
#ifndef VESKA_SHELL_QT_PROGRAM_START_H_
#define VESKA_SHELL_QT_PROGRAM_START_H_

#include <string>
#include <vector>

namespace veska {

// The folders a bare program name is looked up in, in order: the folder of
// this process's own executable, then each absolute PATH entry. Never the
// current folder: an empty or relative PATH entry is left out.
std::vector<std::string> ProgramSearchFolders();

// The absolute path of the executable regular file `file` in the first of
// `folders` that holds one; "" when none does. Relative folders are passed
// over. A name holding a "/" is taken as a path of its own and not searched
// for.
std::string FindProgram(const std::string& file,
                        const std::vector<std::string>& folders);

// Starts argv[0] (a path) with the rest as its arguments and the current
// environment, and returns once it has started, without waiting for it.
// Nothing is left to reap: the program runs as the child of a keeper process
// of its own, which stays as long as the program runs and holds none of this
// process's open files. False when the program could not be started.
bool StartDetached(const std::vector<std::string>& argv);

// Finds `file` in ProgramSearchFolders() and starts it through "pkexec" (when
// that is in an absolute PATH entry) to ask for administrator rights, else
// directly.
// `parameters`, when not empty, is passed as one argument. False when the
// program is not found or could not be started.
bool StartElevated(const std::string& file, const std::string& parameters);

}  // namespace veska

#endif  // VESKA_SHELL_QT_PROGRAM_START_H_
