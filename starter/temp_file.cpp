// Temporary files, whole-file reading and writing, resources written out to temporary files.
#include "starter/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/named_objects.h"
#include "starter/env_var.h"
#include "starter/last_error.h"

namespace zolm::starter {
namespace {

using zolm::platform::UniqueFd;

std::string Quoted(std::string_view call, const std::string &path) {
    return std::string(call) + "(\"" + path + "\")";
}

// Writes all bytes, resuming after interrupted or partial writes; raises "WriteFile".
void WriteAll(int fd, const std::string &path, const uint8_t *data, size_t length) {
    while (length > 0) {
        ssize_t done = ::write(fd, data, length);
        if (done < 0) {
            if (errno == EINTR) continue;
            RaiseLastError(Quoted("WriteFile", path), errno);
        }
        if (done == 0) RaiseLastError(Quoted("WriteFile", path), EIO);
        data += done;
        length -= static_cast<size_t>(done);
    }
}

void Flush(int fd, const std::string &path) {
    if (::fsync(fd) != 0) RaiseLastError(Quoted("FlushFileBuffers", path), errno);
}

}  // namespace

std::string CreateTempFile() {
    std::string folder = GetEnvVar("TMPDIR");
    if (folder.empty()) folder = "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) RaiseLastError("GetTempPath", errno);
    if (!S_ISDIR(st.st_mode)) RaiseLastError("GetTempPath", ENOTDIR);
    std::string name = folder + "/tmpXXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());  // mode 0600, created exclusively
    if (fd < 0) RaiseLastError("GetTempFileName", errno);
    ::close(fd);
    return buffer.data();
}

SecureBytes ReadWholeFile(const std::string &path) {
    // Non-blocking open, so a named pipe cannot hang the starter; regular files read as usual.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) RaiseLastError(Quoted("CreateFile", path), errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) RaiseLastError(Quoted("ReadFile", path), errno);
    if (!S_ISREG(st.st_mode)) RaiseLastError(Quoted("CreateFile", path), S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    SecureBytes bytes(static_cast<size_t>(st.st_size));
    size_t have = 0;
    while (have < bytes.size()) {
        ssize_t got = ::read(fd.Get(), bytes.data() + have, bytes.size() - have);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) RaiseLastError(Quoted("ReadFile", path), errno);  // bytes wiped on the way out
        if (got == 0) RaiseLastError(Quoted("ReadFile", path), EIO);   // the file shrank under us
        have += static_cast<size_t>(got);
    }
    return bytes;
}

void WriteWholeFile(const std::string &path, const void *data, size_t length, bool replace) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (!fd.Valid()) RaiseLastError(Quoted("CreateFile", path), errno);
    if (data != nullptr && length != 0) WriteAll(fd.Get(), path, static_cast<const uint8_t *>(data), length);
    Flush(fd.Get(), path);
}

// SPLASH_EXE and BSPATCH_EXE join this table when their programs are built into the starter.
std::optional<std::span<const uint8_t>> EmbeddedResource(std::string_view) { return std::nullopt; }

std::string WriteResourceToTempFile(std::string_view name, ResourceLookup lookup) {
    std::string path = CreateTempFile();
    try {
        auto resource = lookup(name);
        if (!resource) RaiseLastError(Quoted("FindResource", std::string(name)), ENOENT);
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.Valid()) RaiseLastError(Quoted("CreateFile", path), errno);
        SecureBytes copy(resource->size());
        std::copy(resource->begin(), resource->end(), copy.data());
        WriteAll(fd.Get(), path, copy.data(), copy.size());
        Flush(fd.Get(), path);
        off_t end = ::lseek(fd.Get(), 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(fd.Get(), end) != 0) RaiseLastError(Quoted("SetEndOfFile", path), errno);
    } catch (...) {
        ::unlink(path.c_str());
        throw;
    }
    return path;
}

}  // namespace zolm::starter
