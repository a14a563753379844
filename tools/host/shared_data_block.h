// The host's side of the shared data block: creating it, setting version and language, removing it.
// A block stays in /dev/shm until it is removed, whoever created it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/shared_data.h"

namespace zolm::host {

class SharedDataBlock {
public:
    // The block's size as the host creates it; the plug-ins read only bytes 0 to 5.
    static constexpr size_t kSize = 256;

    // Creates the block `name` (or opens an existing one and makes it at least kSize bytes) with mode
    // 0600, maps it and writes version 6 and the language. Raises std::system_error.
    static SharedDataBlock Create(const std::string &name, uint8_t language);
    // Removes the name; views already mapped stay valid. False when there was no such block.
    static bool Remove(const std::string &name);

    SharedDataBlock(SharedDataBlock &&other) noexcept;
    SharedDataBlock &operator=(SharedDataBlock &&) = delete;
    ~SharedDataBlock();

    void SetVersion(int32_t version);
    void SetLanguage(uint8_t language);
    int32_t Version() const;
    uint8_t LanguageByte() const;

private:
    SharedDataBlock(uint8_t *view, size_t size) : view_(view), size_(size) {}
    volatile uint8_t *view_;
    size_t size_;
};

}  // namespace zolm::host
