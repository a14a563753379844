// Reading certificates and names for the CSP's callers, and the names of the CSP's error codes.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/ossl.h"

namespace softcsp {

const char *ErrorName(uint32_t code) noexcept {
    struct Row {
        uint32_t code;
        const char *name;
    };
    static const Row kNames[] = {
        {ERROR_SUCCESS, "ERROR_SUCCESS"},
        {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
        {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
        {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION"},
        {NTE_BAD_UID, "NTE_BAD_UID"},
        {NTE_BAD_HASH, "NTE_BAD_HASH"},
        {NTE_BAD_KEY, "NTE_BAD_KEY"},
        {NTE_BAD_DATA, "NTE_BAD_DATA"},
        {NTE_BAD_SIGNATURE, "NTE_BAD_SIGNATURE"},
        {NTE_BAD_ALGID, "NTE_BAD_ALGID"},
        {NTE_BAD_FLAGS, "NTE_BAD_FLAGS"},
        {NTE_NO_KEY, "NTE_NO_KEY"},
        {NTE_NO_MEMORY, "NTE_NO_MEMORY"},
        {NTE_EXISTS, "NTE_EXISTS"},
        {NTE_PERM, "NTE_PERM"},
        {NTE_BAD_PUBLIC_KEY, "NTE_BAD_PUBLIC_KEY"},
        {NTE_BAD_KEYSET, "NTE_BAD_KEYSET"},
        {NTE_PROV_TYPE_NOT_DEF, "NTE_PROV_TYPE_NOT_DEF"},
        {NTE_KEYSET_NOT_DEF, "NTE_KEYSET_NOT_DEF"},
        {NTE_PROV_TYPE_NO_MATCH, "NTE_PROV_TYPE_NO_MATCH"},
        {NTE_BAD_KEYSET_PARAM, "NTE_BAD_KEYSET_PARAM"},
        {NTE_FAIL, "NTE_FAIL"},
        {CRYPT_E_NOT_FOUND, "CRYPT_E_NOT_FOUND"},
        {CRYPT_E_EXISTS, "CRYPT_E_EXISTS"},
        {CRYPT_E_NO_KEY_PROPERTY, "CRYPT_E_NO_KEY_PROPERTY"},
        {CRYPT_E_ASN1_BADTAG, "CRYPT_E_ASN1_BADTAG"},
        {SCARD_E_NO_SUCH_CERTIFICATE, "SCARD_E_NO_SUCH_CERTIFICATE"},
        {SCARD_W_WRONG_CHV, "SCARD_W_WRONG_CHV"},
        {SCARD_W_CANCELLED_BY_USER, "SCARD_W_CANCELLED_BY_USER"},
    };
    for (const auto &row : kNames)
        if (row.code == code) return row.name;
    return nullptr;
}

namespace {

std::string OidText(const ASN1_OBJECT *object) {
    char buffer[128];
    int length = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return length <= 0 ? std::string() : std::string(buffer, std::min<size_t>(length, sizeof buffer - 1));
}

uint64_t FileTime(const ASN1_TIME *time) {
    struct tm tm {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return 0;
    int64_t seconds = timegm(&tm) + 11644473600LL;  // 1601 to 1970
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000ULL;
}

Bytes NameDer(const X509_NAME *name) {
    const unsigned char *der = nullptr;
    size_t length = 0;
    if (X509_NAME_get0_der(name, &der, &length) != 1) return {};
    return Bytes(der, der + length);
}

X509Ptr ParseCertificate(const Bytes &certificate) {
    const unsigned char *p = certificate.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
    if (cert && p != certificate.data() + certificate.size()) cert.reset();
    return cert;
}

std::string ValueText(const ASN1_STRING *value) {
    unsigned char *utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) return {};
    std::string text(reinterpret_cast<char *>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

}  // namespace

uint32_t ReadCertificateFacts(const Bytes &certificate, CertificateFacts *facts) {
    X509Ptr cert = ParseCertificate(certificate);
    if (!cert || facts == nullptr) return CRYPT_E_ASN1_BADTAG;
    const X509_ALGOR *signature = nullptr;
    X509_get0_signature(nullptr, &signature, cert.get());
    const ASN1_OBJECT *object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, signature);
    facts->signatureAlgorithmOid = OidText(object);
    ASN1_OBJECT *keyObject = nullptr;
    X509_PUBKEY_get0_param(&keyObject, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(cert.get()));
    facts->publicKeyAlgorithmOid = OidText(keyObject);
    facts->subject = NameDer(X509_get_subject_name(cert.get()));
    facts->issuer = NameDer(X509_get_issuer_name(cert.get()));
    facts->notBefore = FileTime(X509_get0_notBefore(cert.get()));
    facts->notAfter = FileTime(X509_get0_notAfter(cert.get()));
    int critical = 0;
    auto *constraints =
        static_cast<BASIC_CONSTRAINTS *>(X509_get_ext_d2i(cert.get(), NID_basic_constraints, &critical, nullptr));
    facts->basicConstraintsCa = constraints == nullptr ? -1 : (constraints->ca ? 1 : 0);
    BASIC_CONSTRAINTS_free(constraints);
    return 0;
}

namespace {

// One DER element: its tag, and where its content starts and ends.
struct Element {
    int tag = 0, cls = 0;
    bool constructed = false;
    const unsigned char *content = nullptr;
    const unsigned char *end = nullptr;
};

bool NextElement(const unsigned char *&p, const unsigned char *end, Element *element) {
    long length = 0;
    const unsigned char *start = p;
    int result = ASN1_get_object(&p, &length, &element->tag, &element->cls, end - start);
    if (result & 0x80 || result == 0x21) return false;  // error, or indefinite length (not DER)
    element->constructed = (result & V_ASN1_CONSTRUCTED) != 0;
    element->content = p;
    element->end = p + length;
    p = element->end;
    return true;
}

bool IsSequence(const Element &e) { return e.cls == V_ASN1_UNIVERSAL && e.tag == V_ASN1_SEQUENCE && e.constructed; }

}  // namespace

uint32_t ReadPublicKeyAlgorithm(const Bytes &certificate, std::string *oid) {
    const unsigned char *p = certificate.data(), *end = p + certificate.size();
    Element cert, tbs, part, spki, algorithm, object;
    if (certificate.empty() || !NextElement(p, end, &cert) || !IsSequence(cert) || p != end) return CRYPT_E_ASN1_BADTAG;
    p = cert.content;
    if (!NextElement(p, cert.end, &tbs) || !IsSequence(tbs)) return CRYPT_E_ASN1_BADTAG;
    // The rest of the certificate: signatureAlgorithm and the signature.
    const unsigned char *rest = p;
    if (!NextElement(rest, cert.end, &part) || !IsSequence(part) || !NextElement(rest, cert.end, &part) ||
        part.tag != V_ASN1_BIT_STRING || rest != cert.end)
        return CRYPT_E_ASN1_BADTAG;
    p = tbs.content;
    if (!NextElement(p, tbs.end, &part)) return CRYPT_E_ASN1_BADTAG;
    if (part.cls == V_ASN1_CONTEXT_SPECIFIC && part.tag == 0 && !NextElement(p, tbs.end, &part))
        return CRYPT_E_ASN1_BADTAG;
    if (part.tag != V_ASN1_INTEGER) return CRYPT_E_ASN1_BADTAG;  // serialNumber
    // signature, issuer, validity, subject
    for (int i = 0; i < 4; ++i)
        if (!NextElement(p, tbs.end, &part) || !IsSequence(part)) return CRYPT_E_ASN1_BADTAG;
    if (!NextElement(p, tbs.end, &spki) || !IsSequence(spki)) return CRYPT_E_ASN1_BADTAG;
    const unsigned char *q = spki.content;
    if (!NextElement(q, spki.end, &algorithm) || !IsSequence(algorithm)) return CRYPT_E_ASN1_BADTAG;
    const unsigned char *r = algorithm.content;
    const unsigned char *objectStart = r;
    if (!NextElement(r, algorithm.end, &object) || object.tag != V_ASN1_OBJECT) return CRYPT_E_ASN1_BADTAG;
    ASN1_OBJECT *parsed = d2i_ASN1_OBJECT(nullptr, &objectStart, object.end - objectStart);
    if (parsed == nullptr) return CRYPT_E_ASN1_BADTAG;
    *oid = OidText(parsed);
    ASN1_OBJECT_free(parsed);
    return 0;
}

uint32_t DecodeName(const Bytes &name, DecodedName *decoded) {
    const unsigned char *p = name.data();
    X509NamePtr parsed(d2i_X509_NAME(nullptr, &p, static_cast<long>(name.size())));
    if (!parsed || decoded == nullptr) return CRYPT_E_ASN1_BADTAG;
    decoded->clear();
    int last = -1;
    for (int i = 0; i < X509_NAME_entry_count(parsed.get()); ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(parsed.get(), i);
        int set = X509_NAME_ENTRY_set(entry);
        if (set != last || decoded->empty()) decoded->emplace_back();
        last = set;
        decoded->back().push_back(
            {OidText(X509_NAME_ENTRY_get_object(entry)), ValueText(X509_NAME_ENTRY_get_data(entry))});
    }
    return 0;
}

std::string SimpleDisplayName(const Bytes &certificate) {
    X509Ptr cert = ParseCertificate(certificate);
    if (!cert) return {};
    const X509_NAME *subject = X509_get_subject_name(cert.get());
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
        int index = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (index >= 0) return ValueText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    }
    return {};
}

}  // namespace softcsp
