// The exception behind every error text of the libraries, and the printf-style formatter it uses.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace zolm {

// Formats like vsnprintf into a buffer that starts at 256 bytes and doubles until the text fits with
// a byte to spare. Throws std::bad_alloc when memory runs out, std::runtime_error for a format that
// cannot be printed at all.
std::string FormatTextV(const char *format, va_list args);
std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zolm

class formatted_exception : public std::exception {
public:
    explicit formatted_exception(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // For a text that is already complete (no format characters are interpreted).
    static formatted_exception FromText(std::string text);

    const char *what() const noexcept override { return text_.c_str(); }

private:
    formatted_exception() = default;
    std::string text_;
};
