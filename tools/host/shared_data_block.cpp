// Creating and removing the shared data block in POSIX shared memory.
#include "tools/host/shared_data_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zolm::host {
namespace {

[[noreturn]] void Raise(const std::string &what, const std::string &name) {
    throw std::system_error(errno, std::generic_category(), what + " " + name);
}

}  // namespace

SharedDataBlock SharedDataBlock::Create(const std::string &name, uint8_t language) {
    int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) Raise("cannot create the shared data block", name);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(kSize) && ::ftruncate(fd, kSize) != 0)) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        Raise("cannot size the shared data block", name);
    }
    size_t size = st.st_size < static_cast<off_t>(kSize) ? kSize : static_cast<size_t>(st.st_size);
    void *view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int saved = errno;
    ::close(fd);  // the view keeps the block
    errno = saved;
    if (view == MAP_FAILED) Raise("cannot map the shared data block", name);
    SharedDataBlock block(static_cast<uint8_t *>(view), size);
    block.SetLanguage(language);
    block.SetVersion(kSharedDataVersion);
    return block;
}

bool SharedDataBlock::Remove(const std::string &name) { return ::shm_unlink(name.c_str()) == 0; }

SharedDataBlock::SharedDataBlock(SharedDataBlock &&other) noexcept : view_(other.view_), size_(other.size_) {
    other.view_ = nullptr;
}

SharedDataBlock::~SharedDataBlock() {
    if (view_ != nullptr) ::munmap(const_cast<uint8_t *>(view_), size_);
}

void SharedDataBlock::SetVersion(int32_t version) {
    uint32_t v = static_cast<uint32_t>(version);
    for (int i = 0; i < 4; ++i) view_[i] = static_cast<uint8_t>(v >> (8 * i));  // little-endian
}

void SharedDataBlock::SetLanguage(uint8_t language) { view_[kSharedDataLanguageOffset] = language; }

int32_t SharedDataBlock::Version() const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(view_[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

uint8_t SharedDataBlock::LanguageByte() const { return view_[kSharedDataLanguageOffset]; }

}  // namespace zolm::host
