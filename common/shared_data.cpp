// Looking for the shared data block and reading the current language from it.
#include "common/shared_data.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace zolm {
namespace {

// Process-wide; plug-in calls never overlap, so nothing guards it.
int g_handle = -1;                         // kept from the last attempt, closed before the next one
volatile const uint8_t *g_view = nullptr;  // held once the version check passed
size_t g_viewSize = 0;

int32_t ReadVersion(volatile const uint8_t *view) {
    uint32_t v = uint32_t(view[0]) | uint32_t(view[1]) << 8 | uint32_t(view[2]) << 16 | uint32_t(view[3]) << 24;
    return static_cast<int32_t>(v);
}

// Opens and maps the block; true when a view of version 6 is now held.
bool LookForBlock() {
    if (g_handle >= 0) {
        ::close(g_handle);
        g_handle = -1;
    }
    // shm_open sets close-on-exec: the handle is not inherited.
    g_handle = ::shm_open(SharedDataName().c_str(), O_RDWR, 0);
    if (g_handle < 0) return false;
    struct stat st {};
    // A block too small to hold the language byte cannot be read safely: treat it as unmappable.
    if (::fstat(g_handle, &st) != 0 || st.st_size < static_cast<off_t>(kSharedDataMinimumSize)) return false;
    size_t size = static_cast<size_t>(st.st_size);
    void *view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, g_handle, 0);
    if (view == MAP_FAILED) return false;
    auto *bytes = static_cast<volatile const uint8_t *>(view);
    if (ReadVersion(bytes) != kSharedDataVersion) {
        ::munmap(view, size);
        return false;
    }
    g_view = bytes;
    g_viewSize = size;
    return true;
}

}  // namespace

std::string SharedDataName() {
    const char *name = std::getenv("ZOLM_SHARED_DATA_NAME");
    if (name == nullptr || *name == 0) return kSharedDataDefaultName;
    return name[0] == '/' ? std::string(name) : "/" + std::string(name);
}

Language CurrentLanguage() noexcept {
    try {
        if (g_view == nullptr && !LookForBlock()) return kRussian;
    } catch (...) {
        return kRussian;
    }
    // Read afresh each time: the host may change the byte at any moment.
    uint8_t language = g_view[kSharedDataLanguageOffset];
    return language == kEnglish ? kEnglish : kRussian;
}

void ForgetSharedDataView() noexcept {
    if (g_view != nullptr) ::munmap(const_cast<uint8_t *>(g_view), g_viewSize);
    g_view = nullptr;
    g_viewSize = 0;
    if (g_handle >= 0) ::close(g_handle);
    g_handle = -1;
}

}  // namespace zolm
