// fileopsU: folders, folder trees and the program directory.
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

// Folder trees for building a version folder. None of these follows a symbolic link: a link is
// copied or removed as the link itself.

// DeleteDirectory: removes the folder with everything in it. A file its owner may not write (the
// read-only attribute of the system the starter was written for) is not deleted. Stops at the first
// failure and returns false with errno set; true when the folder and everything in it are gone.
bool DeleteDirectory(const std::string &path);

// Copies the rest of in to out, from their current offsets: with copy_file_range, so the file
// system may share blocks, else by reading and writing. False with errno.
bool CopyContents(int in, int out);

// The shell's copy: copies the folder from into the existing empty folder to, keeping file modes
// and copying symbolic links as links (regular files through copy_file_range, so the file system
// may share their blocks, and several at once). False with errno set on a failure; to is then left
// as it is.
bool CopyTree(const std::string &from, const std::string &to);

// The shell's delete: removes the folder and everything in it, whatever the modes. False with errno.
bool DeleteTree(const std::string &path);

// Clearing attributes: makes the folder and every file and folder below it writable by its owner
// (folders also readable and searchable). Raises "SetFileAttributes("%s")" with the first path
// that could not be changed.
void MakeTreeWritable(const std::string &path);

}  // namespace zolm::starter
