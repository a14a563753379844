// Error texts of the Message-PRO library's failures: its code, the code's Russian description and the
// plug-in source position, from a per-function format such as
// "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)".
#pragma once

#include <cstdint>

namespace messagepro {

// The description of a library code; "Ошибка без описания" for a code the table does not hold.
const char *ErrorDescription(int32_t code);

// Raises formatted_exception from format filled with code, its description, file and line.
[[noreturn]] void RaiseLibraryError(const char *format, int32_t code, const char *file, int line);

}  // namespace messagepro

// Calls a library function returning an error code; a nonzero code is raised with `format`.
#define MESPRO_CHECK(call, format)                                                                           \
    do {                                                                                                     \
        int32_t mespro_code_ = (call);                                                                       \
        if (mespro_code_ != 0) messagepro::RaiseLibraryError(format, mespro_code_, __FILE_NAME__, __LINE__); \
    } while (0)

// Raises a failure that the library reported without a code (code 0) or with an explicit code.
#define MESPRO_RAISE(format, code) messagepro::RaiseLibraryError(format, code, __FILE_NAME__, __LINE__)
