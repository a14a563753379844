// Signing in the platform's two steps (the size query, then the signature), each failure turned into
// its text; a key that needs a PIN is opened after asking the user.
#include "zolm_ukep/signing.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/formatted_exception.h"
#include "common/secure_zero.h"
#include "zolm_ukep/certificate_table.h"
#include "zolm_ukep/csp_access.h"
#include "zolm_ukep/pin_prompt.h"
#include "zolm_ukep/texts.h"

namespace ukep {
namespace {

using softcsp::Bytes;
using softcsp::ProvHandle;

constexpr int kPinAttempts = 3;

// The signature algorithm OID of each GOST key kind, and the kind of each such OID.
struct GostAlgorithm {
    const char *publicKeyOid;
    const char *signatureOid;
};
constexpr GostAlgorithm kGost[] = {
    {"1.2.643.2.2.19", "1.2.643.2.2.3"},
    {"1.2.643.7.1.1.1.1", "1.2.643.7.1.1.3.2"},
    {"1.2.643.7.1.1.1.2", "1.2.643.7.1.1.3.3"},
};

// The hash OID is the certificate's own signature algorithm. When the issuer signed with another GOST
// kind than the subject's key (a 512-bit key certified with a 256-bit CA key), that OID names a hash
// the key cannot sign with, so the key's own algorithm is used instead.
std::string HashOid(const Bytes &certificate, const std::string &signatureOid) {
    std::string keyOid;
    if (softcsp::ReadPublicKeyAlgorithm(certificate, &keyOid) != 0) return signatureOid;
    const GostAlgorithm *byKey = nullptr;
    bool signatureIsGost = false;
    for (const auto &row : kGost) {
        if (keyOid == row.publicKeyOid) byKey = &row;
        if (signatureOid == row.signatureOid) signatureIsGost = true;
    }
    if (byKey != nullptr && signatureIsGost && signatureOid != byKey->signatureOid) return byKey->signatureOid;
    return signatureOid;
}

// Both CryptSignMessage calls of one ukep_SignData. A key that needs its PIN is opened once, in the
// first call, and the second call signs in that same context, so the user is asked only once.
class LinkSigner {
public:
    LinkSigner(const softcsp::StoredCertificate &certificate, std::string hashOid)
        : certificate_(certificate), hashOid_(std::move(hashOid)) {}
    ~LinkSigner() {
        if (pinContext_ != 0) Csp().ReleaseContext(pinContext_);
    }
    LinkSigner(const LinkSigner &) = delete;
    LinkSigner &operator=(const LinkSigner &) = delete;

    uint32_t Sign(const uint8_t *data, size_t length, Bytes *signature) {
        softcsp::Csp &csp = Csp();
        if (pinContext_ != 0) return SignInContext(data, length, signature);
        uint32_t code = csp.SignMessageWithLink(certificate_, hashOid_, data, length, signature);
        if (code != softcsp::NTE_BAD_KEYSET || !certificate_.keyProv) return code;
        // The container may be there with a key that only needs its PIN.
        const softcsp::KeyProvInfo &link = *certificate_.keyProv;
        ProvHandle handle = 0;
        if (csp.AcquireContext(&handle, link.container.c_str(), link.providerName.c_str(), link.providerType, 0) != 0 ||
            handle == 0)
            return code;
        pinContext_ = handle;
        // Only a key that refuses the empty PIN is worth asking the user about.
        if (csp.SetPin(handle, "") != softcsp::SCARD_W_WRONG_CHV) return code;
        std::string error;
        uint32_t attempt = 0;
        for (int i = 0; i < kPinAttempts; ++i) {
            std::optional<std::string> pin = Prompt().Ask(Description(link), error);
            if (!pin) return softcsp::SCARD_W_CANCELLED_BY_USER;
            attempt = csp.SetPin(handle, pin->c_str());
            zolm::SecureZero(pin->data(), pin->size());
            if (attempt == 0) return SignInContext(data, length, signature);
            if (attempt != softcsp::SCARD_W_WRONG_CHV) return attempt;
            error = "Неверный PIN-код";
        }
        return softcsp::SCARD_W_WRONG_CHV;
    }

private:
    uint32_t SignInContext(const uint8_t *data, size_t length, Bytes *signature) {
        return Csp().SignMessage(pinContext_, certificate_.keyProv->keySpec, certificate_.der, hashOid_, data, length,
                                 signature);
    }

    static std::string Description(const softcsp::KeyProvInfo &link) {
        return "Введите PIN-код ключевого контейнера\n" + link.container;
    }

    const softcsp::StoredCertificate &certificate_;
    std::string hashOid_;
    ProvHandle pinContext_ = 0;
};

const char *DedicatedText(uint32_t code) {
    switch (code) {
        case softcsp::NTE_NO_KEY:
            return kNoKey;
        case softcsp::NTE_BAD_KEYSET:
            return kBadKeyset;
        case softcsp::CRYPT_E_NO_KEY_PROPERTY:
            return kNoKeyProperty;
        case softcsp::SCARD_W_CANCELLED_BY_USER:
            return kCancelled;
        default:
            return nullptr;
    }
}

[[noreturn]] void Fail(uint32_t code, const char *genericFormat) {
    if (const char *text = DedicatedText(code)) throw formatted_exception("%s", text);
    throw formatted_exception(genericFormat, code);
}

}  // namespace

void SignData(const char *id, const void *data, uint32_t dataLength, void **signature, uint32_t *signatureLength) {
    if (signature == nullptr || signatureLength == nullptr || (data == nullptr && dataLength != 0))
        throw formatted_exception("%s", "invalid argument");
    const CertificateTable &table = Table();
    auto found = id == nullptr ? table.end() : table.find(id);
    if (found == table.end()) {
        *signature = nullptr;
        *signatureLength = 0;
        return;
    }
    const softcsp::StoredCertificate &certificate = found->second.certificate;
    softcsp::CertificateFacts facts;
    if (uint32_t code = softcsp::ReadCertificateFacts(certificate.der, &facts)) Fail(code, kPrepareFailed);
    LinkSigner signer(certificate, HashOid(certificate.der, facts.signatureAlgorithmOid));
    const auto *bytes = static_cast<const uint8_t *>(data);

    // The size query.
    Bytes sized;
    if (uint32_t code = signer.Sign(bytes, dataLength, &sized)) Fail(code, kPrepareFailed);
    zolm::SecureZero(sized.data(), sized.size());
    void *block = std::malloc(sized.empty() ? 1 : sized.size());
    if (block == nullptr) throw formatted_exception("%s", kSignatureAllocation);

    // The signature itself.
    Bytes signed_;
    uint32_t code = signer.Sign(bytes, dataLength, &signed_);
    if (code == 0 && signed_.size() > sized.size()) code = softcsp::NTE_FAIL;  // never past the block
    if (code != 0) {
        std::free(block);
        Fail(code, kSignFailed);
    }
    std::memcpy(block, signed_.data(), signed_.size());
    *signature = block;
    *signatureLength = static_cast<uint32_t>(signed_.size());
}

}  // namespace ukep
