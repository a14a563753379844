#include "common/result.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/secure_zero.h"

namespace zolm {
namespace {
const char kNoMemoryText[] = "bad allocation";
}

char *NewErrorText(const char *text) noexcept {
    if (text == nullptr) text = "";
    size_t size = std::strlen(text) + 1;
    char *block = static_cast<char *>(std::malloc(size));
    if (block == nullptr) return const_cast<char *>(kNoMemoryText);
    std::memcpy(block, text, size);
    return block;
}

void ReleaseBlock(void *block, uint32_t length) noexcept {
    if (block == nullptr || block == kNoMemoryText) return;
    SecureZero(block, length);
    std::free(block);
}

void *NewBlock(const void *data, size_t length) {
    void *block = std::malloc(length == 0 ? 1 : length);
    if (block == nullptr) throw std::bad_alloc();
    if (length != 0) std::memcpy(block, data, length);
    return block;
}

}  // namespace zolm
