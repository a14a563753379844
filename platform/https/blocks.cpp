#include "platform/https/blocks.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "common/secure_zero.h"

namespace zolm::https {
namespace {

// Live blocks and their sizes. Kept apart from the blocks themselves so that a stray pointer is never
// read from before it is known to be ours.
struct Registry {
    std::mutex mutex;
    std::unordered_map<void *, size_t> sizes;
};

Registry &Blocks() {
    static Registry *registry = new Registry;  // never destroyed: blocks may outlive static destruction
    return *registry;
}

}  // namespace

void *NewBlock(size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    try {
        Registry &registry = Blocks();
        std::lock_guard lock(registry.mutex);
        registry.sizes.emplace(block, size);
    } catch (...) {
        std::free(block);
        throw;
    }
    return block;
}

char *NewText(std::string_view text) {
    char *block = static_cast<char *>(NewBlock(text.size() + 1));
    if (!text.empty()) std::memcpy(block, text.data(), text.size());
    block[text.size()] = '\0';
    return block;
}

char *NewErrorText(std::string_view text) noexcept {
    try {
        return NewText(text);
    } catch (...) {
        try {
            return NewText("out of memory");
        } catch (...) {
            return nullptr;
        }
    }
}

bool ReleaseBlock(void *block) noexcept {
    if (block == nullptr) return true;
    size_t size;
    {
        Registry &registry = Blocks();
        std::lock_guard lock(registry.mutex);
        auto found = registry.sizes.find(block);
        if (found == registry.sizes.end()) return false;
        size = found->second;
        registry.sizes.erase(found);
    }
    SecureZero(block, size);
    std::free(block);
    return true;
}

BodyBuffer::BodyBuffer(BodyBuffer &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

BodyBuffer &BodyBuffer::operator=(BodyBuffer &&other) noexcept {
    if (this != &other) {
        ReleaseBlock(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

BodyBuffer::~BodyBuffer() { ReleaseBlock(data_); }

void BodyBuffer::MoveTo(size_t capacity) {
    auto *moved = static_cast<uint8_t *>(NewBlock(capacity + 1));
    if (size_ != 0) std::memcpy(moved, data_, size_);
    ReleaseBlock(data_);
    data_ = moved;
    capacity_ = capacity;
}

void BodyBuffer::Reserve(size_t total) {
    if (data_ == nullptr || total > capacity_) MoveTo(total);
}

void BodyBuffer::Append(const void *data, size_t length) {
    if (length == 0) return;
    if (length > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    if (data_ == nullptr || size_ + length > capacity_) {
        size_t grown = capacity_ < 4096 ? 4096 : capacity_ * 2;
        MoveTo(grown < size_ + length ? size_ + length : grown);
    }
    std::memcpy(data_ + size_, data, length);
    size_ += length;
}

void *BodyBuffer::Take() {
    if (data_ == nullptr) MoveTo(0);
    data_[size_] = '\0';
    void *taken = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return taken;
}

}  // namespace zolm::https
