// Folder-backed key media.
#include "tools/host/folder_media.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace zolm::host {
namespace fs = std::filesystem;

void FolderMedia::AddMedium(uint32_t handle, const fs::path &folder) { folders_[handle] = fs::absolute(folder); }

void FolderMedia::SetSerialNumber(uint32_t handle, const std::string &serial) { serials_[handle] = serial; }

fs::path FolderMedia::Folder(uint32_t handle) const {
    auto it = folders_.find(handle);
    return it == folders_.end() ? fs::path() : it->second;
}

bool FolderMedia::IsBareName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string FolderMedia::DerivedSerialNumber(const fs::path &folder) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(folder, ec);
    std::string text = (ec ? folder : canonical).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char serial[32];
    std::snprintf(serial, sizeof serial, "FM-%016llX", static_cast<unsigned long long>(hash));
    return serial;
}

bool FolderMedia::FileOf(uint32_t medium, const std::string &name, fs::path &file) const {
    auto it = folders_.find(medium);
    if (it == folders_.end() || !IsBareName(name)) return false;
    file = it->second / name;
    return true;
}

bool FolderMedia::ReadFile(uint32_t medium, const std::string &name, std::string &bytes) {
    fs::path file;
    if (!FileOf(medium, name, file) || !fs::is_regular_file(file)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool FolderMedia::WriteFile(uint32_t medium, const std::string &name, std::string_view bytes) {
    fs::path file;
    if (!FileOf(medium, name, file)) return false;
    std::string temp = (file.parent_path() / ("." + name + ".XXXXXX")).string();
    int fd = ::mkstemp(temp.data());  // mode 0600: key files are private to the user
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool FolderMedia::DeleteFile(uint32_t medium, const std::string &name) {
    fs::path file;
    return FileOf(medium, name, file) && ::unlink(file.c_str()) == 0;
}

bool FolderMedia::RenameFile(uint32_t medium, const std::string &from, const std::string &to) {
    fs::path source, target;
    return FileOf(medium, from, source) && FileOf(medium, to, target) && ::rename(source.c_str(), target.c_str()) == 0;
}

bool FolderMedia::FileExists(uint32_t medium, const std::string &name, bool &exists) {
    fs::path file;
    if (!FileOf(medium, name, file)) return false;
    std::error_code ec;
    fs::file_status status = fs::symlink_status(file, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) return false;
    exists = fs::exists(status);
    return true;
}

bool FolderMedia::SerialNumber(uint32_t medium, std::string &text) {
    auto it = folders_.find(medium);
    if (it == folders_.end()) return false;
    auto serial = serials_.find(medium);
    text = serial != serials_.end() ? serial->second : DerivedSerialNumber(it->second);
    return true;
}

bool FolderMedia::Path(uint32_t medium, std::string &text) {
    auto it = folders_.find(medium);
    if (it == folders_.end()) return false;
    text = it->second.string();
    if (text.empty() || text.back() != '/') text += '/';
    return true;
}

}  // namespace zolm::host
