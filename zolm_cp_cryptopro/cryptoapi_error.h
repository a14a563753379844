// Errors of failed CryptoAPI (CSP) calls: "<Operation>() failed, GetLastError=<code>[/0x<hex>] (<file>:<line>)".
#pragma once

#include <cstdint>

namespace cryptopro {

// Raises formatted_exception for a failed call of `operation` with the CSP's code; the hexadecimal
// part is present for codes with the top bit set. file is reduced to its base name.
[[noreturn]] void RaiseCryptoApiFailure(const char *operation, uint32_t code, const char *file, int line);

}  // namespace cryptopro

// At the raising statement, so the text names this file and line.
#define CRYPTOAPI_FAILURE(operation, code) ::cryptopro::RaiseCryptoApiFailure(operation, code, __FILE__, __LINE__)
