// Files of the software CSP: private folders, atomic 0600 writes, listing.
#include "platform/softcsp/csp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace softcsp {

bool IsSafeName(const std::string &text) {
    if (text.empty() || text.size() > 200 || text == "." || text == "..") return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}

std::optional<ContainerName> ParseContainerPath(const std::string &path) {
    ContainerName result;
    const std::string prefix = "\\\\.\\";
    if (path.rfind(prefix, 0) == 0) {
        std::string rest = path.substr(prefix.size());
        size_t slash = rest.find('\\');
        if (slash == std::string::npos) return std::nullopt;
        result.reader = rest.substr(0, slash);
        result.name = rest.substr(slash + 1);
    } else {
        result.reader = "REGISTRY";
        result.name = path;
    }
    if (!IsSafeName(result.reader) || !IsSafeName(result.name)) return std::nullopt;
    return result;
}

std::string CspFolder::ContainerDir(const ContainerName &name) const {
    return root_ + "/containers/" + name.reader + "/" + name.name;
}

std::string CspFolder::StoreDir(const std::string &store) const { return root_ + "/stores/" + store; }

bool CspFolder::MakeDirs(const std::string &dir) const {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool CspFolder::CreateContainerDir(const ContainerName &name) const {
    std::string dir = ContainerDir(name);
    size_t slash = dir.rfind('/');
    if (!MakeDirs(dir.substr(0, slash))) return false;
    return mkdir(dir.c_str(), 0700) == 0;
}

bool CspFolder::Exists(const std::string &path) const {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool CspFolder::RemoveTree(const std::string &path) const {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    return !error;
}

std::vector<ContainerName> CspFolder::ListContainers() const {
    std::vector<ContainerName> result;
    std::error_code error;
    for (const auto &reader : std::filesystem::directory_iterator(root_ + "/containers", error)) {
        if (!reader.is_directory()) continue;
        std::error_code inner;
        for (const auto &entry : std::filesystem::directory_iterator(reader.path(), inner)) {
            if (!entry.is_directory()) continue;
            ContainerName name{reader.path().filename().string(), entry.path().filename().string()};
            if (IsSafeName(name.reader) && IsSafeName(name.name)) result.push_back(name);
        }
    }
    std::sort(result.begin(), result.end(),
              [](const ContainerName &a, const ContainerName &b) { return a.FullPath() < b.FullPath(); });
    return result;
}

std::vector<std::string> CspFolder::ListFiles(const std::string &dir, const std::string &suffix) const {
    std::vector<std::string> result;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            result.push_back(name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::optional<Bytes> CspFolder::Read(const std::string &path) const {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    Bytes data;
    uint8_t chunk[16384];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.insert(data.end(), chunk, chunk + n);
    }
    close(fd);
    return data;
}

bool CspFolder::Write(const std::string &path, const Bytes &data) const {
    size_t slash = path.rfind('/');
    if (!MakeDirs(path.substr(0, slash))) return false;
    std::string temp = path + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());  // mode 0600
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool CspFolder::Remove(const std::string &path) const { return unlink(path.c_str()) == 0 || errno == ENOENT; }

}  // namespace softcsp
