// Folders, folder trees and the program directory.
#include "starter/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/named_objects.h"
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

// Folder trees, walked by path with lstat so that links are never followed.
namespace zolm::starter {
namespace {

using zolm::platform::UniqueFd;

struct DirCloser {
    void operator()(DIR *d) const noexcept { ::closedir(d); }
};

// Calls visit(name) for every entry of the folder but "." and ".."; stops when visit returns false.
// False with errno when the folder cannot be listed or visit failed.
template <typename Visit>
bool ForEachEntry(const std::string &folder, Visit visit) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return false;
    for (;;) {
        errno = 0;
        dirent *entry = ::readdir(dir.get());
        if (entry == nullptr) return errno == 0;
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!visit(name)) return false;
    }
}

bool CopyFile(const std::string &from, const std::string &to, mode_t mode) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.Valid()) return false;
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!out.Valid()) return false;
    bool plainCopy = false;
    std::vector<char> buffer;
    for (;;) {
        ssize_t done;
        if (!plainCopy) {
            done = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, size_t{1} << 30, 0);
            if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                plainCopy = true;  // file systems that cannot copy between themselves
                continue;
            }
        } else {
            if (buffer.empty()) buffer.resize(size_t{1} << 20);
            done = ::read(in.Get(), buffer.data(), buffer.size());
            for (ssize_t written = 0; done > 0 && written < done;) {
                ssize_t w = ::write(out.Get(), buffer.data() + written, static_cast<size_t>(done - written));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                written += w;
            }
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return false;
        if (done == 0) break;
    }
    return ::fchmod(out.Get(), mode & 07777) == 0;
}

bool CopyEntry(const std::string &from, const std::string &to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 2);
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size() - 1);
        if (n < 0) return false;
        target[static_cast<size_t>(n)] = '\0';
        return ::symlink(target.data(), to.c_str()) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) return false;
        if (!CopyTree(from, to)) return false;
        return ::chmod(to.c_str(), st.st_mode & 07777) == 0;
    }
    if (S_ISREG(st.st_mode)) return CopyFile(from, to, st.st_mode);
    // Devices, pipes and sockets have no place in an application's folder.
    errno = EINVAL;
    return false;
}

bool RemoveTree(const std::string &path, bool keepReadOnlyFiles) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        if (!keepReadOnlyFiles && (st.st_mode & S_IRWXU) != S_IRWXU) ::chmod(path.c_str(), st.st_mode | S_IRWXU);
        bool listed = ForEachEntry(path, [&](const std::string &name) {
            return RemoveTree(path + "/" + name, keepReadOnlyFiles);
        });
        return listed && ::rmdir(path.c_str()) == 0;
    }
    if (keepReadOnlyFiles && !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

}  // namespace

bool DeleteDirectory(const std::string &path) { return RemoveTree(path, true); }

bool DeleteTree(const std::string &path) { return RemoveTree(path, false); }

bool CopyTree(const std::string &from, const std::string &to) {
    return ForEachEntry(from, [&](const std::string &name) { return CopyEntry(from + "/" + name, to + "/" + name); });
}

void MakeTreeWritable(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) RaiseLastError("SetFileAttributes(\"" + path + "\")", errno);
    if (S_ISLNK(st.st_mode)) return;  // a link has no mode of its own
    mode_t wanted = st.st_mode | S_IWUSR | (S_ISDIR(st.st_mode) ? S_IRUSR | S_IXUSR : 0);
    if (wanted != st.st_mode && ::chmod(path.c_str(), wanted & 07777) != 0)
        RaiseLastError("SetFileAttributes(\"" + path + "\")", errno);
    if (!S_ISDIR(st.st_mode)) return;
    bool listed = ForEachEntry(path, [&](const std::string &name) {
        MakeTreeWritable(path + "/" + name);
        return true;
    });
    if (!listed) RaiseLastError("SetFileAttributes(\"" + path + "\")", errno);
}

}  // namespace zolm::starter
