// Test certificates over OpenSSL.
#include "zolm_ukep/tests/cert_factory.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "platform/softcsp/gost.h"

namespace ukep::testing {
namespace {

using softcsp::Bytes;

EVP_PKEY *IssuerKeyOf(IssuerKey kind) {
    static softcsp::PkeyPtr gost256 = softcsp::GenerateGostKey("1.2.643.7.1.2.1.1.1");
    static softcsp::PkeyPtr gost512 = softcsp::GenerateGostKey("1.2.643.7.1.2.1.2.1");
    static softcsp::PkeyPtr rsa(EVP_RSA_gen(1024));
    EVP_PKEY *key = kind == IssuerKey::Gost256 ? gost256.get() : kind == IssuerKey::Gost512 ? gost512.get() : rsa.get();
    if (key == nullptr) throw std::runtime_error("no issuer key");
    return key;
}

const EVP_MD *DigestOf(IssuerKey kind) {
    switch (kind) {
        case IssuerKey::Gost256:
            return EVP_get_digestbynid(NID_id_GostR3411_2012_256);
        case IssuerKey::Gost512:
            return EVP_get_digestbynid(NID_id_GostR3411_2012_512);
        default:
            return EVP_sha256();
    }
}

softcsp::X509NamePtr MakeName(const NameSpec &wanted) {
    softcsp::X509NamePtr name(X509_NAME_new());
    for (const auto &[field, value] : wanted)
        if (X509_NAME_add_entry_by_txt(name.get(), field.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char *>(value.c_str()), -1, -1, 0) != 1)
            throw std::runtime_error("bad name attribute " + field);
    return name;
}

Bytes Der(X509 *cert) {
    unsigned char *der = nullptr;
    int length = i2d_X509(cert, &der);
    if (length <= 0) throw std::runtime_error("i2d_X509");
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

Bytes Sign(X509 *cert, IssuerKey kind) {
    if (X509_sign(cert, IssuerKeyOf(kind), DigestOf(kind)) <= 0) throw std::runtime_error("X509_sign");
    return Der(cert);
}

}  // namespace

Bytes MakeCertificate(const CertSpec &wanted, const Bytes &spki) {
    if (!softcsp::GostReady()) throw std::runtime_error("GOST engine unavailable");
    softcsp::PkeyPtr key;
    if (spki.empty()) {
        key = softcsp::GenerateGostKey("1.2.643.7.1.2.1.1.1");
    } else {
        const unsigned char *p = spki.data();
        key.reset(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    }
    if (!key) throw std::runtime_error("no subject key");
    softcsp::X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    static long serial = 500;
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
    ASN1_TIME_set(X509_getm_notBefore(cert.get()), wanted.notBefore);
    ASN1_TIME_set(X509_getm_notAfter(cert.get()), wanted.notAfter);
    X509_set_subject_name(cert.get(), MakeName(wanted.subject).get());
    X509_set_issuer_name(cert.get(), MakeName(wanted.issuer).get());
    X509_set_pubkey(cert.get(), key.get());
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints,
                                              wanted.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
    return Sign(cert.get(), wanted.issuerKey);
}

std::string IssuerPem() {
    static std::string pem = [] {
        CertSpec wanted;
        wanted.subject = wanted.issuer;
        wanted.ca = true;
        softcsp::X509Ptr cert(X509_new());
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        ASN1_TIME_set(X509_getm_notBefore(cert.get()), wanted.notBefore);
        ASN1_TIME_set(X509_getm_notAfter(cert.get()), wanted.notAfter);
        X509_set_subject_name(cert.get(), MakeName(wanted.subject).get());
        X509_set_issuer_name(cert.get(), MakeName(wanted.issuer).get());
        X509_set_pubkey(cert.get(), IssuerKeyOf(IssuerKey::Gost256));
        X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "critical,CA:TRUE");
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
        Sign(cert.get(), IssuerKey::Gost256);
        softcsp::BioPtr bio(BIO_new(BIO_s_mem()));
        PEM_write_bio_X509(bio.get(), cert.get());
        char *text = nullptr;
        long length = BIO_get_mem_data(bio.get(), &text);
        return std::string(text, length);
    }();
    return pem;
}

}  // namespace ukep::testing
