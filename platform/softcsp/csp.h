// The software CSP as the plug-ins and zolm_ukep see it: key containers, PINs, GOST keys, request and
// message signing, certificates in containers and in the store "My". One abstract class, so tests can
// put a double in its place; the real one works on disk with OpenSSL and its GOST engine.
//
// Every operation returns 0 or a Windows error code of csp_codes.h, as GetLastError would give it
// after the CryptoAPI call it stands for; outputs are written only on success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/softcsp/csp_codes.h"

namespace softcsp {

// A provider context: 0 is no context. Released with ReleaseContext.
using ProvHandle = std::uintptr_t;
using Bytes = std::vector<uint8_t>;

// Where a certificate's private key lives (the key-provider link of a store certificate).
struct KeyProvInfo {
    std::string container;  // full container path, "\\.\REGISTRY\zolm-<guid>"
    std::string providerName;
    uint32_t providerType = 0;
    uint32_t keySpec = AT_SIGNATURE;
};

// A certificate of a store, with its link to a private key when it has one.
struct StoredCertificate {
    Bytes der;
    std::optional<KeyProvInfo> keyProv;
};

// One attribute of a decoded name, its value as CertRDNValueToStr would write it.
struct NameAttribute {
    std::string oid;
    std::string value;
};
using DecodedName = std::vector<std::vector<NameAttribute>>;  // RDNs in encoding order

// What the callers read from a certificate.
struct CertificateFacts {
    std::string signatureAlgorithmOid;
    std::string publicKeyAlgorithmOid;
    Bytes subject;           // DER Name
    Bytes issuer;            // DER Name
    uint64_t notBefore = 0;  // 100-ns intervals since 1601-01-01 UTC
    uint64_t notAfter = 0;
    int basicConstraintsCa = -1;  // -1 no extension, 0 not a CA, 1 a CA
};

class SOFTCSP_API Csp {
public:
    virtual ~Csp();

    // CryptAcquireContext: container null or empty with CRYPT_VERIFYCONTEXT for a context without keys;
    // flags 0 opens an existing container, CRYPT_NEWKEYSET creates one (NTE_EXISTS if it exists),
    // CRYPT_DELETEKEYSET deletes it (no handle results). providerName may be null (the type's default).
    virtual uint32_t AcquireContext(ProvHandle *handle, const char *container, const char *providerName,
                                    uint32_t providerType, uint32_t flags) = 0;
    virtual uint32_t ReleaseContext(ProvHandle handle) = 0;
    // PP_VERSION: major in bits 8-15, minor in bits 0-7.
    virtual uint32_t GetVersion(ProvHandle handle, uint32_t *version) = 0;
    // CryptCreateHash with GOST R 34.11-94 and its destruction: fails once the handle is unusable
    // (released, or its container deleted).
    virtual uint32_t ProbeContext(ProvHandle handle) = 0;

    // PP_SIGNATUREOID: the parameter set of keys generated later in this context.
    virtual uint32_t SetSignatureParamSet(ProvHandle handle, const char *oid) = 0;
    // PP_SIGNATURE_PIN: offers the container's PIN. With keys in the container a wrong PIN is refused
    // (SCARD_W_WRONG_CHV) and the context forgets any PIN it had; without keys it becomes the PIN the
    // next generated key is stored under.
    virtual uint32_t SetPin(ProvHandle handle, const char *pin) = 0;
    // PP_CHANGE_PIN: re-protects every key of the container under newPin; the current PIN must have
    // been accepted in this context.
    virtual uint32_t ChangePin(ProvHandle handle, const char *newPin) = 0;

    // CryptGenKey (not exportable): NTE_EXISTS when the container already holds that key.
    virtual uint32_t GenerateKey(ProvHandle handle, uint32_t keySpec) = 0;
    // CryptExportPublicKeyInfo: the key's SubjectPublicKeyInfo (DER).
    virtual uint32_t ExportPublicKeyInfo(ProvHandle handle, uint32_t keySpec, Bytes *spki) = 0;
    // CryptSignAndEncodeCertificate for a request: the DER of a CertificationRequest over the given
    // DER CertificationRequestInfo, its algorithm the given OID without parameters.
    virtual uint32_t SignRequest(ProvHandle handle, uint32_t keySpec, const Bytes &requestInfo,
                                 const std::string &signatureAlgorithmOid, Bytes *request) = 0;
    // CryptSignMessage, detached: DER CMS SignedData over data, one signer with the certificate's key in
    // this context, the certificate included, no signed attributes.
    virtual uint32_t SignMessage(ProvHandle handle, uint32_t keySpec, const Bytes &certificate,
                                 const std::string &digestOid, const uint8_t *data, size_t length,
                                 Bytes *signature) = 0;

    // PP_ENUMCONTAINERS: full paths of every container of the stores.
    virtual uint32_t EnumContainers(ProvHandle handle, std::vector<std::string> *containers) = 0;
    // CryptGetUserKey: 0 when the key exists, NTE_NO_KEY otherwise.
    virtual uint32_t HasKey(ProvHandle handle, uint32_t keySpec) = 0;
    // KP_CERTIFICATE: the certificate kept with a key (SCARD_E_NO_SUCH_CERTIFICATE when none).
    virtual uint32_t GetKeyCertificate(ProvHandle handle, uint32_t keySpec, Bytes *certificate) = 0;
    // Installs a certificate with a key; its public key must be the key's (NTE_BAD_PUBLIC_KEY).
    virtual uint32_t SetKeyCertificate(ProvHandle handle, uint32_t keySpec, const Bytes &certificate) = 0;

    // The store "My" (CertOpenSystemStore and its enumeration; adding with a key-provider link).
    virtual uint32_t ListStore(const std::string &store, std::vector<StoredCertificate> *certificates) = 0;
    virtual uint32_t AddToStore(const std::string &store, const StoredCertificate &certificate) = 0;
    // CryptSignMessage with the key that a certificate's key-provider link names (no PIN dialog: a key
    // that needs a PIN is refused with NTE_BAD_KEYSET, a certificate without a link with
    // CRYPT_E_NO_KEY_PROPERTY).
    virtual uint32_t SignMessageWithLink(const StoredCertificate &certificate, const std::string &digestOid,
                                         const uint8_t *data, size_t length, Bytes *signature) = 0;

    // CALG_SHA1 through a context.
    virtual uint32_t Sha1(ProvHandle handle, const uint8_t *data, size_t length, Bytes *digest) = 0;
};

// The real CSP on disk. Its folder: $ZOLM_CSP_DIR, else $XDG_DATA_HOME/zolm-csp, else
// $HOME/.local/share/zolm-csp. Its version word: $ZOLM_CSP_VERSION (for tests, hexadecimal such as
// 0x0400) when set, else 0x0500.
SOFTCSP_API std::unique_ptr<Csp> OpenSoftCsp();
SOFTCSP_API std::unique_ptr<Csp> OpenSoftCsp(const std::string &folder, uint32_t version);
SOFTCSP_API std::string DefaultCspFolder();
SOFTCSP_API uint32_t ConfiguredVersion();

// Certificate helpers (no context needed). Each returns 0 or CRYPT_E_ASN1_BADTAG for bad DER.
SOFTCSP_API uint32_t ReadCertificateFacts(const Bytes &certificate, CertificateFacts *facts);
// Only the public key algorithm OID of a certificate, read from its DER without decoding the key
// (cheap enough for every signature).
SOFTCSP_API uint32_t ReadPublicKeyAlgorithm(const Bytes &certificate, std::string *oid);
SOFTCSP_API uint32_t DecodeName(const Bytes &name, DecodedName *decoded);
// CERT_NAME_SIMPLE_DISPLAY_TYPE: commonName, else organizationalUnitName, organizationName, emailAddress.
SOFTCSP_API std::string SimpleDisplayName(const Bytes &certificate);

}  // namespace softcsp
