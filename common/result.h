// The result convention of every exported function: NULL for success, else an error text on the heap
// that the caller gives back through the library's release function. Nothing is thrown across it.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

namespace zolm {

// A malloc'ed copy of text. When the heap cannot give the block, a constant text is returned
// instead, which ReleaseBlock recognises and leaves alone: a failure never reads as success.
char *NewErrorText(const char *text) noexcept;

// The release function's work: zero exactly `length` bytes, then free. Null is ignored.
void ReleaseBlock(void *block, uint32_t length) noexcept;

// malloc'ed copy of bytes for output blocks (signatures, lists); throws std::bad_alloc.
void *NewBlock(const void *data, size_t length);

// Runs work; returns NULL on completion, or the error text of the exception it raised.
template <typename Work>
char *ResultOf(Work &&work) noexcept {
    try {
        std::forward<Work>(work)();
        return nullptr;
    } catch (const std::exception &e) {
        return NewErrorText(e.what());
    } catch (...) {
        return NewErrorText("unexpected exception");
    }
}

// For callbacks that a vendor library calls: no exception may leave them.
template <typename Work, typename Result>
Result NoThrow(Work &&work, Result onException) noexcept {
    try {
        return std::forward<Work>(work)();
    } catch (...) {
        return onException;
    }
}

}  // namespace zolm
