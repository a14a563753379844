// Folders, folder trees and the program directory.
#include "starter/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <system_error>
#include <thread>
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

bool CopyContents(int in, int out) {
    bool plainCopy = false;
    std::vector<char> buffer;
    for (;;) {
        ssize_t done;
        if (!plainCopy) {
            done = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
            if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                plainCopy = true;  // file systems that cannot copy between themselves
                continue;
            }
        } else {
            if (buffer.empty()) buffer.resize(size_t{1} << 20);
            done = ::read(in, buffer.data(), buffer.size());
            for (ssize_t written = 0; done > 0 && written < done;) {
                ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(done - written));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                written += w;
            }
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return false;
        if (done == 0) return true;
    }
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
    return CopyContents(in.Get(), out.Get()) && ::fchmod(out.Get(), mode & 07777) == 0;
}

// The plan of a tree copy: folders and links are made while walking; file contents are copied
// afterwards, several at once, and folder modes are set last (a read-only folder is filled first).
struct CopyPlan {
    struct File {
        std::string from, to;
        mode_t mode;
    };
    std::vector<File> files;
    std::vector<std::pair<std::string, mode_t>> folders;  // parents before their children
};

bool PlanEntry(const std::string &from, const std::string &to, CopyPlan &plan);

bool PlanTree(const std::string &from, const std::string &to, CopyPlan &plan) {
    return ForEachEntry(from, [&](const std::string &name) { return PlanEntry(from + "/" + name, to + "/" + name, plan); });
}

bool PlanEntry(const std::string &from, const std::string &to, CopyPlan &plan) {
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
        plan.folders.emplace_back(to, st.st_mode);
        return PlanTree(from, to, plan);
    }
    if (S_ISREG(st.st_mode)) {
        plan.files.push_back({from, to, st.st_mode});
        return true;
    }
    // Devices, pipes and sockets have no place in an application's folder.
    errno = EINVAL;
    return false;
}

// Copies the planned files on a few threads: copying is bound by the processor (page cache and
// block allocation), so a second core nearly halves a large copy. False with the errno of a failure.
bool CopyFiles(const std::vector<CopyPlan::File> &files) {
    std::atomic<size_t> next{0};
    std::atomic<int> failure{0};
    auto work = [&] {
        for (size_t i; failure.load() == 0 && (i = next.fetch_add(1)) < files.size();) {
            const CopyPlan::File &f = files[i];
            if (!CopyFile(f.from, f.to, f.mode)) {
                int expected = 0;
                failure.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
            }
        }
    };
    size_t helpers = std::min<size_t>({std::thread::hardware_concurrency(), 4, files.size() / 8 + 1});
    std::vector<std::thread> threads;
    for (size_t i = 1; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error &) {
            break;  // no more threads: fewer hands do the same work
        }
    }
    work();
    for (std::thread &t : threads) t.join();
    if (failure.load() != 0) {
        errno = failure.load();
        return false;
    }
    return true;
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
    CopyPlan plan;
    if (!PlanTree(from, to, plan) || !CopyFiles(plan.files)) return false;
    for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder)
        if (::chmod(folder->first.c_str(), folder->second & 07777) != 0) return false;
    return true;
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
