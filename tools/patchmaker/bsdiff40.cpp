// BSDIFF40: "BSDIFF40", three 64-bit sign-magnitude little-endian lengths (control block, diff
// block, new file), then the bzip2-compressed control, diff and extra blocks.
#include "bsdiff40.h"

#include <bzlib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

extern char **environ;

namespace zolm::patchmaker {
namespace {

void PutOffset(int64_t value, std::vector<uint8_t> &out) {
    uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        uint8_t byte = static_cast<uint8_t>(magnitude >> (8 * i));
        if (i == 7 && value < 0) byte |= 0x80;
        out.push_back(byte);
    }
}

std::vector<uint8_t> Bzip2(const std::vector<uint8_t> &data) {
    unsigned int capacity = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::vector<uint8_t> out(capacity);
    char nothing = 0;  // bzip2 wants a buffer even for no bytes
    char *source = data.empty() ? &nothing : const_cast<char *>(reinterpret_cast<const char *>(data.data()));
    int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &capacity, source,
                                      static_cast<unsigned int>(data.size()), 9, 0, 0);
    if (rc != BZ_OK) throw std::runtime_error("bzip2 compression failed (" + std::to_string(rc) + ")");
    out.resize(capacity);
    return out;
}

std::vector<uint8_t> ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

off_t SizeOf(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    return st.st_size;
}

}  // namespace

std::vector<uint8_t> WholeFilePatch(const std::vector<uint8_t> &content) {
    std::vector<uint8_t> control;
    if (!content.empty()) {
        PutOffset(0, control);
        PutOffset(static_cast<int64_t>(content.size()), control);
        PutOffset(0, control);
    }
    std::vector<uint8_t> controlBlock = Bzip2(control), diffBlock = Bzip2({}), extraBlock = Bzip2(content);
    std::vector<uint8_t> patch = {'B', 'S', 'D', 'I', 'F', 'F', '4', '0'};
    PutOffset(static_cast<int64_t>(controlBlock.size()), patch);
    PutOffset(static_cast<int64_t>(diffBlock.size()), patch);
    PutOffset(static_cast<int64_t>(content.size()), patch);
    for (const auto *block : {&controlBlock, &diffBlock, &extraBlock})
        patch.insert(patch.end(), block->begin(), block->end());
    return patch;
}

std::vector<uint8_t> MakePatch(const std::string &oldFile, const std::string &newFile) {
    if (SizeOf(oldFile) == 0 || SizeOf(newFile) == 0) return WholeFilePatch(ReadAll(newFile));
    char name[] = "/tmp/patchmaker-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd < 0) throw std::runtime_error(std::string("cannot create a temporary file: ") + std::strerror(errno));
    ::close(fd);
    const char *argv[] = {"bsdiff", oldFile.c_str(), newFile.c_str(), name, nullptr};
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, "bsdiff", nullptr, nullptr, const_cast<char **>(argv), environ);
    int status = 0;
    if (rc == 0) ::waitpid(pid, &status, 0);
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ::unlink(name);
        throw std::runtime_error("bsdiff " + oldFile + " " + newFile + " failed" +
                                 (rc != 0 ? std::string(": ") + std::strerror(rc) : std::string()));
    }
    std::vector<uint8_t> patch = ReadAll(name);
    ::unlink(name);
    return patch;
}

}  // namespace zolm::patchmaker
