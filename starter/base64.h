// Base64U: the standard base64 alphabet (RFC 4648 section 4) with "=" padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "starter/wipe_mem.h"

namespace zolm::starter {

// Without line breaks; empty bytes give an empty text.
std::string Base64Encode(const void *data, size_t size);
inline std::string Base64Encode(std::string_view bytes) { return Base64Encode(bytes.data(), bytes.size()); }

// Characters outside the alphabet and "=" are skipped, so blanks and line breaks may stand anywhere;
// each "=" is a pad character standing for a zero sextet. Fails (nothing) with more than two pads, or
// when the number of sextets with pads is 0 or not a multiple of 4. Gives three bytes per four
// sextets, less one per pad. The bytes are wiped when the buffer goes.
std::optional<SecureBytes> Base64Decode(std::string_view text);

}  // namespace zolm::starter
