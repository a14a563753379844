// Key file format: "ZCSPKEY1", PBKDF2 iterations (32-bit big-endian), salt (16), nonce (12), tag (16),
// then the ciphertext. The header up to the nonce is authenticated with the key.
#include "platform/softcsp/key_file.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "platform/softcsp/ossl.h"

namespace softcsp {
namespace {

constexpr char kMagic[8] = {'Z', 'C', 'S', 'P', 'K', 'E', 'Y', '1'};
constexpr size_t kSalt = 16, kNonce = 12, kTag = 16;
constexpr size_t kHeader = sizeof kMagic + 4 + kSalt + kNonce;
constexpr uint32_t kMaxIterations = 10000000;

bool DeriveKey(const std::string &pin, const uint8_t *salt, uint32_t iterations, uint8_t key[32]) {
    return PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt, kSalt, static_cast<int>(iterations),
                             EVP_sha256(), 32, key) == 1;
}

}  // namespace

SecretText &SecretText::operator=(const SecretText &other) {
    if (this != &other) {
        OPENSSL_cleanse(text_.data(), text_.size());
        text_ = other.text_;
    }
    return *this;
}

SecretText::~SecretText() { OPENSSL_cleanse(text_.data(), text_.size()); }

bool SecretText::Equals(const std::string &other) const noexcept {
    return other.size() == text_.size() && CRYPTO_memcmp(other.data(), text_.data(), text_.size()) == 0;
}

void Wipe(Bytes &bytes) noexcept {
    OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

Bytes SealKey(const Bytes &pkcs8, const std::string &pin, uint32_t iterations) {
    Bytes out(kHeader + kTag + pkcs8.size());
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    for (int i = 0; i < 4; ++i) out[sizeof kMagic + i] = static_cast<uint8_t>(iterations >> (24 - 8 * i));
    uint8_t *salt = out.data() + sizeof kMagic + 4;
    uint8_t *nonce = salt + kSalt;
    uint8_t *tag = out.data() + kHeader;
    uint8_t *body = tag + kTag;
    if (RAND_bytes(salt, kSalt + kNonce) != 1) return {};
    uint8_t key[32];
    if (!DeriveKey(pin, salt, iterations, key)) return {};
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) == 1 &&
              EVP_EncryptUpdate(ctx.get(), nullptr, &n, out.data(), kHeader) == 1 &&
              EVP_EncryptUpdate(ctx.get(), body, &n, pkcs8.data(), static_cast<int>(pkcs8.size())) == 1 &&
              EVP_EncryptFinal_ex(ctx.get(), body + n, &n) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTag, tag) == 1;
    OPENSSL_cleanse(key, sizeof key);
    if (!ok) return {};
    return out;
}

std::optional<Bytes> OpenKey(const Bytes &sealed, const std::string &pin) {
    if (sealed.size() <= kHeader + kTag || std::memcmp(sealed.data(), kMagic, sizeof kMagic) != 0) return {};
    uint32_t iterations = 0;
    for (int i = 0; i < 4; ++i) iterations = (iterations << 8) | sealed[sizeof kMagic + i];
    if (iterations == 0 || iterations > kMaxIterations) return {};
    const uint8_t *salt = sealed.data() + sizeof kMagic + 4;
    const uint8_t *nonce = salt + kSalt;
    const uint8_t *tag = sealed.data() + kHeader;
    const uint8_t *body = tag + kTag;
    size_t bodyLength = sealed.size() - kHeader - kTag;
    uint8_t key[32];
    if (!DeriveKey(pin, salt, iterations, key)) return {};
    Bytes plain(bodyLength);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int n = 0, m = 0;
    bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) == 1 &&
              EVP_DecryptUpdate(ctx.get(), nullptr, &n, sealed.data(), kHeader) == 1 &&
              EVP_DecryptUpdate(ctx.get(), plain.data(), &n, body, static_cast<int>(bodyLength)) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTag, const_cast<uint8_t *>(tag)) == 1 &&
              EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &m) == 1;
    OPENSSL_cleanse(key, sizeof key);
    if (!ok) {
        Wipe(plain);
        return {};
    }
    return plain;
}

}  // namespace softcsp
