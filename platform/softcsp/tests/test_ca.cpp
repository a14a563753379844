// Test CA over OpenSSL; used by the CSP's and the CryptoPro plug-in's tests.
#include "platform/softcsp/tests/test_ca.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "platform/softcsp/gost.h"

namespace softcsp::testing {
namespace {

Bytes CertDer(X509 *cert) {
    unsigned char *der = nullptr;
    int length = i2d_X509(cert, &der);
    if (length <= 0) throw std::runtime_error("i2d_X509");
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

X509Ptr ParseCert(const Bytes &der) {
    const unsigned char *p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

X509Ptr NewCert(EVP_PKEY *subjectKey, X509_NAME *subject, X509_NAME *issuer, long serial) {
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365);
    X509_set_subject_name(cert.get(), subject);
    X509_set_issuer_name(cert.get(), issuer);
    X509_set_pubkey(cert.get(), subjectKey);
    return cert;
}

}  // namespace

TestCa::TestCa() {
    key_ = GenerateGostKey("1.2.643.7.1.2.1.1.1");
    if (!key_) throw std::runtime_error("GOST engine unavailable");
    X509NamePtr name(X509_NAME_new());
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Test CA"), -1,
                               -1, 0);
    X509Ptr cert = NewCert(key_.get(), name.get(), name.get(), 1);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "critical,CA:TRUE");
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
    if (X509_sign(cert.get(), key_.get(), EVP_get_digestbynid(NID_id_GostR3411_2012_256)) <= 0)
        throw std::runtime_error("X509_sign");
    certificate_ = CertDer(cert.get());
}

Bytes TestCa::Issue(const Bytes &spki, const std::string &commonName) const {
    const unsigned char *p = spki.data();
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    if (!key) throw std::runtime_error("d2i_PUBKEY");
    X509NamePtr name(X509_NAME_new());
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0);
    X509Ptr ca = ParseCert(certificate_);
    static long serial = 100;
    X509Ptr cert = NewCert(key.get(), name.get(), X509_get_subject_name(ca.get()), ++serial);
    if (X509_sign(cert.get(), key_.get(), EVP_get_digestbynid(NID_id_GostR3411_2012_256)) <= 0)
        throw std::runtime_error("X509_sign");
    return CertDer(cert.get());
}

Bytes TestCa::IssueForRequest(const Bytes &request) const {
    const unsigned char *p = request.data();
    X509_REQ *req = d2i_X509_REQ(nullptr, &p, static_cast<long>(request.size()));
    if (req == nullptr) return {};
    EVP_PKEY *key = X509_REQ_get0_pubkey(req);
    Bytes result;
    if (key != nullptr && X509_REQ_verify(req, key) == 1) {
        X509Ptr ca = ParseCert(certificate_);
        static long serial = 1000;
        X509Ptr cert = NewCert(key, X509_REQ_get_subject_name(req), X509_get_subject_name(ca.get()), ++serial);
        if (X509_sign(cert.get(), key_.get(), EVP_get_digestbynid(NID_id_GostR3411_2012_256)) > 0)
            result = CertDer(cert.get());
    }
    X509_REQ_free(req);
    return result;
}

bool RequestVerifies(const Bytes &request) {
    const unsigned char *p = request.data();
    X509_REQ *req = d2i_X509_REQ(nullptr, &p, static_cast<long>(request.size()));
    if (req == nullptr) return false;
    EVP_PKEY *key = X509_REQ_get0_pubkey(req);
    bool ok = key != nullptr && X509_REQ_verify(req, key) == 1;
    X509_REQ_free(req);
    return ok;
}

bool CmsVerifies(const Bytes &signature, const Bytes &data, const TestCa &ca) {
    const unsigned char *p = signature.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
    if (!cms) return false;
    X509_STORE *store = X509_STORE_new();
    X509Ptr root = ParseCert(ca.Certificate());
    X509_STORE_add_cert(store, root.get());
    static const uint8_t kEmpty = 0;
    BioPtr content(BIO_new_mem_buf(data.empty() ? &kEmpty : data.data(), static_cast<int>(data.size())));
    bool ok = CMS_verify(cms.get(), nullptr, store, content.get(), nullptr, CMS_BINARY) == 1;
    X509_STORE_free(store);
    return ok;
}

std::string ToPem(const Bytes &der, const char *label) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio(bio.get(), label, "", der.data(), static_cast<long>(der.size()));
    char *text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, length);
}

}  // namespace softcsp::testing
