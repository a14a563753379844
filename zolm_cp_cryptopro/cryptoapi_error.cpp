// The CryptoAPI failure text.
#include "zolm_cp_cryptopro/cryptoapi_error.h"

#include <cstdio>
#include <cstring>

#include "common/formatted_exception.h"
#include "zolm_cp_cryptopro/texts.h"

namespace cryptopro {

void RaiseCryptoApiFailure(const char *operation, uint32_t code, const char *file, int line) {
    const char *base = file;
    for (const char *p = file; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    char hex[16] = "";
    if (code & 0x80000000u) std::snprintf(hex, sizeof hex, "/0x%08X", code);
    throw formatted_exception(kCryptoApiFailure, operation, code, hex, base, line);
}

}  // namespace cryptopro
