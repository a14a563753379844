// Fuzz target for Base64Decode: any text decodes by the sextet rules or fails, the decoder fed in
// pieces agrees, and what decodes encodes back to the same significant characters.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "starter/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace zolm::starter;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    auto bytes = Base64Decode(text);
    // In pieces (sized by the first byte) the decoder gives exactly the same bytes, or fails alike.
    size_t piece = size == 0 ? 1 : data[0] % 16 + 1;
    std::string streamed;
    Base64Decoder decoder([&](const uint8_t *d, size_t n) { streamed.append(reinterpret_cast<const char *>(d), n); });
    for (size_t at = 0; at < text.size(); at += piece) decoder.Feed(text.substr(at, piece));
    bool decoded = decoder.Finish();
    if (decoded != bytes.has_value()) std::abort();
    if (bytes && streamed != std::string_view(reinterpret_cast<const char *>(bytes->data()), bytes->size())) std::abort();
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
