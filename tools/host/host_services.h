// The host side of the plug-in ABI: a C++ interface for what a host does (media, questions, key
// presses, parameters) and the one HostTable whose C functions forward to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "zolm/provider.h"

namespace zolm::host {

// Which host function gives a block back.
enum class ReleaseBy { kGeneral, kMedium };

class HostServices {
public:
    virtual ~HostServices() = default;

    // Medium functions: true on success. Failures are reported by result only; they never throw.
    virtual bool ReadFile(uint32_t medium, const std::string &name, std::string &bytes) = 0;
    virtual bool WriteFile(uint32_t medium, const std::string &name, std::string_view bytes) = 0;
    virtual bool DeleteFile(uint32_t medium, const std::string &name) = 0;
    virtual bool RenameFile(uint32_t medium, const std::string &from, const std::string &to) = 0;
    virtual bool FileExists(uint32_t medium, const std::string &name, bool &exists) = 0;
    virtual bool SerialNumber(uint32_t medium, std::string &text) = 0;
    virtual bool Path(uint32_t medium, std::string &text) = 0;

    // True: the user answered yes.
    virtual bool Confirm(uint32_t medium, const std::string &question) = 0;
    // Stores one character; true when one was given.
    virtual bool KeyPress(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char &pressed) = 0;
    // Never fails: an unknown parameter is an empty text.
    virtual std::string Parameter(uint32_t medium, const std::string &name) = 0;

    // Blocks handed to the plug-in (file data, texts) come from HandOut (null when the heap has no
    // block) and go back through TakeBack, which refuses a block it did not hand out and wipes the
    // whole block before freeing it, whatever length the plug-in gives.
    virtual void *HandOut(const void *data, size_t length);
    virtual bool TakeBack(ReleaseBy by, uint32_t medium, void *block, uint32_t length);

    // Blocks handed out and not yet given back, with their lengths.
    const std::unordered_map<void *, size_t> &Outstanding() const { return outstanding_; }

private:
    std::unordered_map<void *, size_t> outstanding_;
};

// Makes `services` the process-wide target of the host table (null detaches it: every function then
// fails) and returns the table, which stays valid for the life of the process.
const HostTable *BindHost(HostServices *services) noexcept;

}  // namespace zolm::host
