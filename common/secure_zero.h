// Zeroing that the compiler cannot drop: for memory that held keys, passwords, files or patch data.
#pragma once

#include <cstddef>
#include <cstring>

namespace zolm {

inline void SecureZero(void *data, size_t length) noexcept {
    if (data != nullptr && length != 0) explicit_bzero(data, length);
}

}  // namespace zolm
