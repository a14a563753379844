// Key generation and requests, signing and passwords of the active container.
#include "zolm_cp_cryptopro/key_operations.h"

#include <cstdlib>
#include <cstring>

#include "common/formatted_exception.h"
#include "common/key_medium.h"
#include "common/memory_buffer.h"
#include "common/result.h"
#include "zolm_cp_cryptopro/container_binding.h"
#include "zolm_cp_cryptopro/cryptoapi_error.h"
#include "zolm_cp_cryptopro/csp_access.h"
#include "zolm_cp_cryptopro/pem.h"
#include "zolm_cp_cryptopro/texts.h"

namespace cryptopro {
namespace {

constexpr uint32_t kInvalidData = 13;  // ERROR_INVALID_DATA: text without BEGIN/END lines or bad Base64
const char kRequestFile[] = "req.pem";
const char kCertificateFile[] = "cert.pem";

const char *OrEmpty(const char *text) { return text == nullptr ? "" : text; }

}  // namespace

void GenerateKey(uint32_t medium, const char *password, const char *paramSetOid, const char *algorithmOid) {
    softcsp::Csp &csp = Csp();
    ProviderChoice provider = ProviderFor(OrEmpty(algorithmOid));
    std::string name;
    std::string path = NewContainerPath(medium, &name);
    softcsp::ProvHandle handle = 0;
    if (uint32_t code =
            csp.AcquireContext(&handle, path.c_str(), provider.name, provider.type, softcsp::CRYPT_NEWKEYSET))
        CRYPTOAPI_FAILURE("CryptAcquireContext", code);
    try {
        std::string serial = zolm::SerialNumber(medium);
        Names(serial).pending = name;
        SaveRecord(medium);
        // The previous generation's context belongs to a container that is no longer pending: a request
        // must never be made for it, also when this generation fails.
        softcsp::ProvHandle &previous = GeneratedHandle(serial);
        if (previous != 0) csp.ReleaseContext(previous);
        previous = 0;
        // The CSP keeps its defaults when it refuses either setting; the key generation tells.
        csp.SetSignatureParamSet(handle, OrEmpty(paramSetOid));
        csp.SetPin(handle, OrEmpty(password));
        if (uint32_t code = csp.GenerateKey(handle, softcsp::AT_SIGNATURE)) CRYPTOAPI_FAILURE("CryptGenKey", code);
        GeneratedHandle(serial) = handle;
    } catch (...) {
        csp.ReleaseContext(handle);
        throw;
    }
}

void MakeRequest(uint32_t medium, const char *password, const char *requestTemplate) {
    MakeRequest(medium, password, ReadRequestContent(requestTemplate));
}

void MakeRequest(uint32_t medium, const char *password, const RequestContent &content) {
    softcsp::Csp &csp = Csp();
    std::string serial = zolm::SerialNumber(medium);
    softcsp::ProvHandle handle = GeneratedHandle(serial);
    const bool reopened = handle == 0;
    if (reopened) handle = OpenPendingContainer(medium, OrEmpty(password));
    std::string pem;
    try {
        Bytes subject = EncodeSubject(content.subject);
        Bytes extensions = EncodeExtensions(content);
        Bytes publicKeyInfo;
        if (uint32_t code = csp.ExportPublicKeyInfo(handle, softcsp::AT_SIGNATURE, &publicKeyInfo))
            CRYPTOAPI_FAILURE("CryptExportPublicKeyInfo", code);
        Bytes request;
        if (uint32_t code =
                csp.SignRequest(handle, softcsp::AT_SIGNATURE, EncodeRequestInfo(subject, publicKeyInfo, extensions),
                                content.signAlgorithm, &request))
            CRYPTOAPI_FAILURE("CryptSignAndEncodeCertificate", code);
        pem = PemArmour(request, "CERTIFICATE REQUEST");
    } catch (...) {
        // The generation's handle stays for a retry; a context opened here is not kept.
        if (reopened && handle != 0) csp.ReleaseContext(handle);
        throw;
    }
    // The generation's handle serves one request.
    csp.ReleaseContext(handle);
    GeneratedHandle(serial) = 0;
    zolm::WriteFile(medium, kRequestFile, pem.data(), pem.size());
}

const char *DigestForPublicKey(const std::string &publicKeyAlgorithmOid) {
    std::string prefix = publicKeyAlgorithmOid.substr(0, 17);
    if (prefix == "1.2.643.7.1.1.1.1") return "1.2.643.7.1.1.2.2";
    if (prefix == "1.2.643.7.1.1.1.2") return "1.2.643.7.1.1.2.3";
    throw formatted_exception("%s", kBadPublicKeyAlgorithm);
}

void SignData(uint32_t medium, const char *password, const void *data, uint32_t length, void **signature,
              uint32_t *signatureLength, char **info) {
    if (signature == nullptr || signatureLength == nullptr || info == nullptr || (data == nullptr && length != 0))
        throw formatted_exception("cp_SignData: invalid argument");
    CMemoryBufferPtr certificateText = zolm::ReadFile(medium, kCertificateFile);
    // The host's bytes are signed where they are: a copy would cost a second pass over large data and
    // leave one more copy to wipe.
    softcsp::Csp &csp = Csp();
    softcsp::ProvHandle handle = OpenActiveContainer(medium);
    std::vector<uint8_t> certificate;
    if (!PemToDer(std::string(reinterpret_cast<const char *>(certificateText->Data()), certificateText->Length()),
                  &certificate))
        CRYPTOAPI_FAILURE("CryptStringToBinary", kInvalidData);
    std::string publicKeyAlgorithm;
    if (softcsp::ReadPublicKeyAlgorithm(certificate, &publicKeyAlgorithm) != 0)
        throw formatted_exception("%s", kNotACertificate);
    const char *digest = DigestForPublicKey(publicKeyAlgorithm);
    // A wrong password shows as the signing's failure.
    csp.SetPin(handle, OrEmpty(password));
    std::vector<uint8_t> signed_;
    if (uint32_t code = csp.SignMessage(handle, softcsp::AT_SIGNATURE, certificate, digest,
                                        static_cast<const uint8_t *>(data), length, &signed_))
        CRYPTOAPI_FAILURE("CryptSignMessage", code);
    void *block = std::malloc(signed_.empty() ? 1 : signed_.size());
    if (block == nullptr) throw formatted_exception("%s", kSignatureAllocation);
    std::memcpy(block, signed_.data(), signed_.size());
    char *empty = static_cast<char *>(std::calloc(1, 1));
    if (empty == nullptr) {
        zolm::ReleaseBlock(block, static_cast<uint32_t>(signed_.size()));
        throw formatted_exception("%s", kSignatureAllocation);
    }
    *signature = block;
    *signatureLength = static_cast<uint32_t>(signed_.size());
    *info = empty;
}

void CheckPassword(uint32_t medium, const char *password, int32_t *accepted) {
    if (accepted == nullptr) throw formatted_exception("cp_CheckPassword: invalid argument");
    softcsp::ProvHandle handle = OpenActiveContainer(medium);
    *accepted = Csp().SetPin(handle, OrEmpty(password)) == 0 ? 1 : 0;
}

void ChangePassword(uint32_t medium, const char *currentPassword, const char *newPassword) {
    softcsp::Csp &csp = Csp();
    softcsp::ProvHandle handle = OpenActiveContainer(medium);
    if (uint32_t code = csp.SetPin(handle, OrEmpty(currentPassword))) CRYPTOAPI_FAILURE("CryptSetProvParam", code);
    if (uint32_t code = csp.ChangePin(handle, OrEmpty(newPassword))) CRYPTOAPI_FAILURE("CryptSetProvParam", code);
}

}  // namespace cryptopro
