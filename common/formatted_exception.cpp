#include "common/formatted_exception.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

namespace zolm {

std::string FormatTextV(const char *format, va_list args) {
    for (size_t size = 256;; size *= 2) {
        std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char *>(std::malloc(size)), &std::free);
        if (!buffer) throw std::bad_alloc();
        va_list copy;
        va_copy(copy, args);
        int written = std::vsnprintf(buffer.get(), size - 1, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < size - 1) return std::string(buffer.get(), written);
        // This printer reports a cut text by its full length; a negative result is a format it cannot print
        // (an unconvertible wide character), which no larger buffer cures.
        if (written < 0) throw std::runtime_error(std::string("cannot format text: ") + format);
        if (size > (size_t{1} << 30)) throw std::bad_alloc();
    }
}

std::string FormatText(const char *format, ...) {
    va_list args;
    va_start(args, format);
    try {
        std::string text = FormatTextV(format, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

}  // namespace zolm

formatted_exception::formatted_exception(const char *format, ...) {
    va_list args;
    va_start(args, format);
    try {
        text_ = zolm::FormatTextV(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

formatted_exception formatted_exception::FromText(std::string text) {
    formatted_exception e;
    e.text_ = std::move(text);
    return e;
}
