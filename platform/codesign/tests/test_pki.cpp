// Test certificates with OpenSSL's X509 builder.
#include "test_pki.h"

#include <openssl/ec.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "platform/codesign/openssl_handles.h"

namespace zolm::platform::codesign::testing {
namespace {

PkeyPtr NewKey() {
    PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key) throw std::runtime_error("EC key generation failed");
    return key;
}

std::string CertPem(X509 *cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

std::string KeyPem(EVP_PKEY *key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

void AddExtension(X509 *cert, X509 *issuer, int nid, const char *value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) throw std::runtime_error("bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509Ptr Build(const std::string &cn, EVP_PKEY *key, X509 *issuerCert, bool expired) {
    static long serial = 1000;
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
    if (expired) {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400L * 30);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), -86400L);
    } else {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365);
    }
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(cn.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), issuerCert != nullptr ? X509_get_subject_name(issuerCert) : name);
    X509_set_pubkey(cert.get(), key);
    return cert;
}

Issued Finish(X509 *cert, EVP_PKEY *key, EVP_PKEY *issuerKey) {
    if (X509_sign(cert, issuerKey, EVP_sha256()) <= 0) throw std::runtime_error("certificate signing failed");
    return {CertPem(cert), KeyPem(key)};
}

struct Loaded {
    X509Ptr cert;
    PkeyPtr key;
};

Loaded Load(const Issued &issued) {
    BioPtr c(BIO_new_mem_buf(issued.certPem.data(), static_cast<int>(issued.certPem.size())));
    BioPtr k(BIO_new_mem_buf(issued.keyPem.data(), static_cast<int>(issued.keyPem.size())));
    return {X509Ptr(PEM_read_bio_X509(c.get(), nullptr, nullptr, nullptr)),
            PkeyPtr(PEM_read_bio_PrivateKey(k.get(), nullptr, nullptr, nullptr))};
}

}  // namespace

Issued MakeRoot(const std::string &commonName) {
    PkeyPtr key = NewKey();
    X509Ptr cert = Build(commonName, key.get(), nullptr, false);
    AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    return Finish(cert.get(), key.get(), key.get());
}

Issued MakeIntermediate(const Issued &issuer, const std::string &commonName) {
    Loaded parent = Load(issuer);
    PkeyPtr key = NewKey();
    X509Ptr cert = Build(commonName, key.get(), parent.cert.get(), false);
    AddExtension(cert.get(), parent.cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), parent.cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    return Finish(cert.get(), key.get(), parent.key.get());
}

Issued MakeSigner(const Issued &issuer, const std::string &commonName, const LeafOptions &options) {
    Loaded parent = Load(issuer);
    PkeyPtr key = NewKey();
    X509Ptr cert = Build(commonName, key.get(), parent.cert.get(), options.expired);
    AddExtension(cert.get(), parent.cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), parent.cert.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), parent.cert.get(), NID_subject_key_identifier, "hash");
    if (!options.anyUsage)
        AddExtension(cert.get(), parent.cert.get(), NID_ext_key_usage,
                     options.codeSigning ? "codeSigning" : "emailProtection");
    return Finish(cert.get(), key.get(), parent.key.get());
}

}  // namespace zolm::platform::codesign::testing
