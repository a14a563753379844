// Folders and the program directory.
#include "starter/fileops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "starter/last_error.h"

namespace zolm::starter {

std::string ProgramDirectory() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) RaiseLastError("readlink(\"/proc/self/exe\")", n < 0 ? errno : ENAMETOOLONG);
    std::string exe(buffer.data(), static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

bool DirectoryExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string &path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    // Create each prefix ending before a "/", then the whole path.
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        std::string part = path.substr(0, at);
        if (!part.empty() && !DirectoryExists(part)) {
            if (::mkdir(part.c_str(), 0777) != 0 && !(errno == EEXIST && DirectoryExists(part))) {
                if (errno == EEXIST) errno = ENOTDIR;
                return false;
            }
        }
        if (at == std::string::npos) break;
    }
    return true;
}

}  // namespace zolm::starter
