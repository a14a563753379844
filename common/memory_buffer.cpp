#include "common/memory_buffer.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/formatted_exception.h"
#include "common/secure_zero.h"

CMemoryBufferPtr CMemoryBuffer::Create() { return std::make_shared<CMemoryBuffer>(); }

CMemoryBufferPtr CMemoryBuffer::Create(const void *data, size_t length) {
    auto buffer = Create();
    buffer->Append(data, length);
    return buffer;
}

CMemoryBuffer::~CMemoryBuffer() { WipeStorage(); }

void CMemoryBuffer::WipeStorage() noexcept { zolm::SecureZero(storage_.get(), capacity_); }

void CMemoryBuffer::Reserve(size_t n) {
    if (capacity_ - offset_ - length_ >= n) return;
    if (n > SIZE_MAX - length_ - 1023) throw std::length_error("CMemoryBuffer::Reserve");
    size_t capacity = (length_ + n + 1023) / 1024 * 1024;
    std::shared_ptr<uint8_t[]> storage(new uint8_t[capacity]);
    if (length_ != 0) std::memcpy(storage.get(), Data(), length_);
    WipeStorage();
    storage_ = std::move(storage);
    offset_ = 0;
    capacity_ = capacity;
}

void CMemoryBuffer::Append(const void *data, size_t length) {
    if (length == 0) return;
    auto at = reinterpret_cast<std::uintptr_t>(data), start = reinterpret_cast<std::uintptr_t>(storage_.get());
    if (storage_ && at >= start && at < start + capacity_ && capacity_ - offset_ - length_ < length) {
        // Bytes of this buffer's own storage, which growing wipes: append a copy of them.
        auto copy = Create(data, length);
        Append(copy->Data(), copy->Length());
        return;
    }
    Reserve(length);
    std::memcpy(Data() + length_, data, length);
    length_ += length;
}

void CMemoryBuffer::SetLength(size_t n) {
    if (n > capacity_ - offset_) throw std::out_of_range("CMemoryBuffer::SetLength");
    length_ = n;
}

void CMemoryBuffer::Consume(size_t n) {
    if (n > length_) throw std::out_of_range("CMemoryBuffer::Consume");
    offset_ += n;
    length_ -= n;
}

const char *CMemoryBuffer::TerminatedView() {
    Reserve(1);
    Data()[length_] = 0;
    return reinterpret_cast<const char *>(Data());
}

CMemoryBufferPtr CMemoryBuffer::LoadFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw formatted_exception("failed to open file %s", path.c_str());
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(file, &std::fclose);
    // A folder opens for reading here, but is no file to load.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))
        throw formatted_exception("failed to open file %s", path.c_str());
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        throw formatted_exception("failed to read file %s", path.c_str());
    auto buffer = Create();
    buffer->Reserve(static_cast<size_t>(size));
    size_t got = std::fread(buffer->Data(), 1, static_cast<size_t>(size), file);
    if (got < static_cast<size_t>(size)) throw formatted_exception("failed to read file %s", path.c_str());
    buffer->SetLength(got);
    return buffer;
}
