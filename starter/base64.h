// Base64U: the standard base64 alphabet (RFC 4648 section 4) with "=" padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "starter/wipe_mem.h"

namespace zolm::starter {

// A decoding under way: the sextets of an unfinished group and the counts the rules look at.
struct DecodeState {
    uint32_t group = 0;
    int count = 0;
    size_t sextets = 0;  // pads included
    size_t pads = 0;
    bool Valid() const;
};

// Decodes the next piece of a text into out, which has room for text.size() / 4 * 3 + 8 bytes;
// returns the bytes written (three per finished group, pads as zero sextets).
size_t DecodeInto(DecodeState &state, std::string_view text, uint8_t *out);

// Without line breaks; empty bytes give an empty text.
std::string Base64Encode(const void *data, size_t size);
inline std::string Base64Encode(std::string_view bytes) { return Base64Encode(bytes.data(), bytes.size()); }

// Characters outside the alphabet and "=" are skipped, so blanks and line breaks may stand anywhere;
// each "=" is a pad character standing for a zero sextet. Fails (nothing) with more than two pads, or
// when the number of sextets with pads is 0 or not a multiple of 4. Gives three bytes per four
// sextets, less one per pad. The bytes are wiped when the buffer goes.
std::optional<SecureBytes> Base64Decode(std::string_view text);

// The same decoding for a text that arrives in pieces: the bytes go to the sink as they are decoded,
// but the last two wait for Finish, since pads further on may still cut them off.
class Base64Decoder {
public:
    using Sink = std::function<void(const uint8_t *data, size_t size)>;
    explicit Base64Decoder(Sink sink);
    void Feed(std::string_view text);
    // Whether the whole text decodes; sends the rest of the bytes when it does.
    bool Finish();

private:
    Sink sink_;
    DecodeState state_;
    SecureBytes buffer_;
    size_t held_ = 0;
};

}  // namespace zolm::starter
