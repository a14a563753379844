// The request's PEM armour: "-----BEGIN <label>-----\n", Base64 (RFC 4648) in lines of 64 characters
// each ending with "\n", "-----END <label>-----\n". DER longer than 2048 bytes is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cryptopro {

inline constexpr size_t kPemLimit = 2048;

std::string Base64(const uint8_t *data, size_t length);
// Raises "PEM buffer overflow" for more than kPemLimit bytes.
std::string PemArmour(const std::vector<uint8_t> &der, const char *label);
// The DER inside a PEM text with BEGIN and END lines (CRYPT_STRING_BASE64HEADER); false when the text
// has no such lines or its Base64 is broken.
bool PemToDer(const std::string &text, std::vector<uint8_t> *der);

}  // namespace cryptopro
