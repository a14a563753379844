// The code signature of this platform: a detached CMS SignedData appended to the signed file in the
// layout of a Linux kernel module signature, so other tools can read and make it:
//
//   file bytes | DER CMS SignedData (detached, signs exactly the file bytes, carries the signer's
//   certificate and any intermediates) | 12-byte trailer | "~Module signature appended~\n"
//
// The trailer is the kernel's struct module_signature: algorithm 0, hash 0, id type 2 (PKCS #7),
// signer length 0, key id length 0, three zero bytes, then the CMS length as 32-bit big-endian.
// A signature is accepted when its certificate chains to a trusted root and carries the code-signing
// extended key usage; revocation is not checked. An expired certificate is refused (there is no
// time-stamping to prove the signature older than the expiry).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zolm::platform::codesign {

inline constexpr std::string_view kMagic = "~Module signature appended~\n";
inline constexpr size_t kTrailerSize = 12;

// Why a file was refused, with the code the Windows trust check reports for the same case, so the
// starter's "WinVerifyTrust" message keeps its meaning. kReadFailed carries the errno instead.
enum class Refusal : int32_t {
    kNotSigned = static_cast<int32_t>(0x800B0100),      // TRUST_E_NOSIGNATURE
    kBadDigest = static_cast<int32_t>(0x80096010),      // TRUST_E_BAD_DIGEST
    kUntrustedRoot = static_cast<int32_t>(0x800B0109),  // CERT_E_UNTRUSTEDROOT
    kExpired = static_cast<int32_t>(0x800B0101),        // CERT_E_EXPIRED
    kWrongUsage = static_cast<int32_t>(0x800B0110),     // CERT_E_WRONG_USAGE
    kReadFailed = 0,
};

// A refused signature. code() is the Refusal's value (the errno for kReadFailed); what() is an
// English text for the user's message.
class SignatureError : public std::runtime_error {
public:
    SignatureError(Refusal refusal, int code, const std::string &text)
        : std::runtime_error(text), refusal_(refusal), code_(code) {}
    Refusal refusal() const noexcept { return refusal_; }
    int code() const noexcept { return code_; }

private:
    Refusal refusal_;
    int code_;
};

// Where the parts of a signed file lie; offsets from the file's start.
struct SignedLayout {
    uint64_t contentLength = 0;  // the signed bytes: [0, contentLength)
    uint32_t cmsLength = 0;      // the CMS: [contentLength, contentLength + cmsLength)
};

// The layout when the file ends in a well-formed trailer and magic; empty otherwise.
std::optional<SignedLayout> FindSignature(std::span<const uint8_t> file);

// Trusted root certificates. Copies share the same store.
class TrustedRoots {
public:
    // Every certificate of the PEM text; std::invalid_argument when it holds none.
    static TrustedRoots FromPem(std::string_view pem);
    // The roots compiled into the program (link target zolm_codesign_roots).
    static const TrustedRoots &BuiltIn();

    struct Store;
    const Store &store() const { return *store_; }

private:
    std::shared_ptr<Store> store_;
};

// Verifies a signed file's bytes; returns the signer's simple display name (the commonName of the
// first signer's certificate, empty when it has none). Raises SignatureError.
std::string VerifyBytes(std::span<const uint8_t> file, const TrustedRoots &roots);

// Verifies the file behind an open descriptor, read with pread (its position is left alone).
// Raises SignatureError (kReadFailed with the errno when reading fails).
std::string VerifyDescriptor(int fd, const TrustedRoots &roots);

// A signing certificate with its key and intermediates.
class Signer {
public:
    // certPem holds the signer's certificate first, then any intermediates; keyPem its private key
    // (unencrypted). std::invalid_argument on unreadable input or a key that does not match.
    static Signer FromPem(std::string_view certPem, std::string_view keyPem);
    static Signer FromPemFiles(const std::string &certPath, const std::string &keyPath);

    struct Material;
    const Material &material() const { return *material_; }

private:
    std::shared_ptr<Material> material_;
};

// The bytes to append to content: CMS, trailer and magic. std::runtime_error when signing fails.
std::vector<uint8_t> MakeSignatureBlock(std::span<const uint8_t> content, const Signer &signer);

// Signs the file at path, replacing any signature it already carries, and writes the result to
// outPath (path itself when empty) through a temporary file in the same folder and a rename, keeping
// the file's mode. std::runtime_error with the failing path on any failure; nothing is half-written.
void SignFile(const std::string &path, const Signer &signer, const std::string &outPath = {});

}  // namespace zolm::platform::codesign
