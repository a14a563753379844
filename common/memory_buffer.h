// CMemoryBuffer: a byte buffer for key files, certificates and APDUs that leaves no copy behind.
// Storage is zeroed over its whole capacity when the buffer grows and when it is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CMemoryBuffer;
using CMemoryBufferPtr = std::shared_ptr<CMemoryBuffer>;

class CMemoryBuffer {
public:
    // Buffers are always held through a shared pointer.
    static CMemoryBufferPtr Create();
    static CMemoryBufferPtr Create(const void *data, size_t length);
    // Loads a whole file; raises "failed to open file %s" (also for a folder) or "failed to read file %s"
    // (also when fewer bytes arrive than the file's size promised).
    static CMemoryBufferPtr LoadFile(const std::string &path);

    CMemoryBuffer() = default;
    CMemoryBuffer(const CMemoryBuffer &) = delete;
    CMemoryBuffer &operator=(const CMemoryBuffer &) = delete;
    ~CMemoryBuffer();

    // Makes room for n more bytes after the data. New storage has capacity
    // (length + n + 1023) rounded down to a multiple of 1024; the data moves to offset 0.
    void Reserve(size_t n);
    // Appends bytes (reserving as needed); they may be this buffer's own.
    void Append(const void *data, size_t length);
    // Declares bytes written into reserved room as data; n must fit in the storage.
    void SetLength(size_t n);
    // Drops n bytes from the front of the data (they stay in the storage until it is zeroed).
    void Consume(size_t n);

    uint8_t *Data() noexcept { return storage_.get() + offset_; }
    const uint8_t *Data() const noexcept { return storage_.get() + offset_; }
    size_t Length() const noexcept { return length_; }
    size_t Capacity() const noexcept { return capacity_; }
    size_t Offset() const noexcept { return offset_; }
    // The shared storage itself. A holder keeps the bytes alive but not secret: they are zeroed when
    // this buffer grows out of them or is destroyed.
    std::shared_ptr<uint8_t[]> Storage() const noexcept { return storage_; }
    // Ensures room for one byte, writes a 0 after the data and returns the data pointer.
    const char *TerminatedView();

private:
    // Zeroes the whole capacity of the storage held now.
    void WipeStorage() noexcept;

    std::shared_ptr<uint8_t[]> storage_;
    size_t offset_ = 0;
    size_t length_ = 0;
    size_t capacity_ = 0;
};
