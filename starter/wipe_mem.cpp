// Wipe-before-free for the starter's buffers.
#include "starter/wipe_mem.h"

#include "common/secure_zero.h"

namespace zolm::starter {

void WipeAndFree(std::unique_ptr<uint8_t[]> &buffer, size_t length) noexcept {
    if (!buffer) return;
    zolm::SecureZero(buffer.get(), length);
    buffer.reset();
}

void SecureBytes::Shrink(size_t size) noexcept {
    if (size >= size_) return;
    zolm::SecureZero(data_.get() + size, size_ - size);
    size_ = size;
}

SecureBytes &SecureBytes::operator=(SecureBytes &&other) noexcept {
    if (this != &other) {
        Wipe();
        data_ = std::move(other.data_);
        size_ = other.size_;
        other.size_ = 0;
    }
    return *this;
}

}  // namespace zolm::starter
