// Fuzz target for Base64Decode: any text decodes by the sextet rules or fails, and what decodes
// encodes back to the same significant characters.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "starter/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace zolm::starter;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    auto bytes = Base64Decode(text);
    std::string significant;
    for (char c : text)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
            c == '=')
            significant += c;
    if (!bytes) return 0;
    if (significant.size() % 4 != 0 || bytes->size() > significant.size() / 4 * 3) std::abort();
    // Pads at the end only: the round trip gives the text back, apart from bits below the last byte.
    size_t pad = significant.find('=');
    if (pad == std::string::npos || significant.find_first_not_of('=', pad) == std::string::npos) {
        std::string again = Base64Encode(bytes->data(), bytes->size());
        if (again.size() != significant.size()) std::abort();
    }
    return 0;
}
