// fileopsU: folders and the program directory.
#pragma once

#include <string>

namespace zolm::starter {

// The directory of the running executable (/proc/self/exe), with a trailing "/".
std::string ProgramDirectory();

// True when path names an existing folder (following symbolic links).
bool DirectoryExists(const std::string &path);

// Creates the folder and all missing parents (mode 0777 less the umask). False with errno set when
// a part cannot be created or exists but is not a folder.
bool ForceDirectories(const std::string &path);

}  // namespace zolm::starter
