// WipeMemU: buffers that held file or patch contents are zeroed before their memory is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zolm::starter {

// If buffer holds memory, zeroes its first length bytes (a zeroing the compiler cannot drop), frees
// it and resets the reference.
void WipeAndFree(std::unique_ptr<uint8_t[]> &buffer, size_t length) noexcept;

// The buffer type for whole-file contents: owns its bytes and wipes them when it goes.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(size_t size) : data_(size != 0 ? new uint8_t[size]() : nullptr), size_(size) {}
    SecureBytes(SecureBytes &&other) noexcept : data_(std::move(other.data_)), size_(other.size_) {
        other.size_ = 0;
    }
    SecureBytes &operator=(SecureBytes &&other) noexcept;
    SecureBytes(const SecureBytes &) = delete;
    SecureBytes &operator=(const SecureBytes &) = delete;
    ~SecureBytes() { Wipe(); }

    uint8_t *data() noexcept { return data_.get(); }
    const uint8_t *data() const noexcept { return data_.get(); }
    size_t size() const noexcept { return size_; }
    // Keeps the first size bytes (no more than it has); the rest is wiped.
    void Shrink(size_t size) noexcept;
    // Wipes and frees now; the buffer is empty afterwards.
    void Wipe() noexcept {
        WipeAndFree(data_, size_);
        size_ = 0;
    }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

}  // namespace zolm::starter
