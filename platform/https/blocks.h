// The blocks libhttps.so hands out (error texts, response headers, response bodies) and takes back
// through https_Release: each remembers its size so that it can be zeroed before it is freed, and is
// registered so that a foreign or already released pointer is refused instead of freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zolm::https {

// A new registered block of `size` bytes (contents unspecified); throws std::bad_alloc.
void *NewBlock(size_t size);
// A registered NUL-terminated copy of text; throws std::bad_alloc.
char *NewText(std::string_view text);
// A registered copy of text for an error report; never throws, returns NULL only when the heap is empty.
char *NewErrorText(std::string_view text) noexcept;
// Zeroes and frees a registered block. NULL: true. Unknown pointer: false, nothing touched.
bool ReleaseBlock(void *block) noexcept;

// The response body as it arrives: grows in registered blocks, zeroing every block it leaves behind.
// The caller takes the final block with Take(); whatever is not taken is zeroed and freed.
class BodyBuffer {
public:
    BodyBuffer() = default;
    BodyBuffer(const BodyBuffer &) = delete;
    BodyBuffer &operator=(const BodyBuffer &) = delete;
    BodyBuffer(BodyBuffer &&other) noexcept;
    BodyBuffer &operator=(BodyBuffer &&other) noexcept;
    ~BodyBuffer();

    // Makes room for `total` bytes in all; throws std::bad_alloc.
    void Reserve(size_t total);
    // Appends bytes, growing geometrically; throws std::bad_alloc.
    void Append(const void *data, size_t length);
    size_t Size() const noexcept { return size_; }
    // Hands out the block (always non-NULL, NUL after the data); the buffer is empty afterwards.
    void *Take();

private:
    void MoveTo(size_t capacity);

    uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;  // bytes for data; the block has one more for the NUL
};

}  // namespace zolm::https
