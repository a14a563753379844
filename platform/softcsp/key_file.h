// Private keys at rest: a key file holds the PKCS #8 key encrypted with AES-256-GCM under a key derived
// from the container's PIN (PBKDF2-HMAC-SHA256, salted). A wrong PIN and a damaged file both fail the
// authentication tag, so neither yields a key.
#pragma once

#include <optional>
#include <string>

#include "platform/softcsp/csp.h"

namespace softcsp {

// A std::string for PINs that is wiped when it goes away.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string text) : text_(std::move(text)) {}
    SecretText(const SecretText &other) : text_(other.text_) {}
    SecretText &operator=(const SecretText &other);
    ~SecretText();
    const std::string &str() const noexcept { return text_; }
    bool Equals(const std::string &other) const noexcept;  // constant time for equal lengths

private:
    std::string text_;
};

// Wipes a byte vector's contents (for plaintext keys).
void Wipe(Bytes &bytes) noexcept;

constexpr uint32_t kDefaultPinIterations = 100000;

// The sealed form of a PKCS #8 key; empty when encryption fails.
Bytes SealKey(const Bytes &pkcs8, const std::string &pin, uint32_t iterations = kDefaultPinIterations);
// The PKCS #8 key (wipe it after use), or nothing for a wrong PIN or a damaged file.
std::optional<Bytes> OpenKey(const Bytes &sealed, const std::string &pin);

}  // namespace softcsp
