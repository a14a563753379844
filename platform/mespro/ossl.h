// OpenSSL handles owned through unique_ptr (one deleter per handle type) and the GOST engine set-up.
#pragma once

// pem.h first: cms.h declares its PEM functions only after it.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace mespro {

template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T *p) const noexcept {
        Free(p);
    }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, OsslDeleter<X509_REQ_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OsslDeleter<X509_SIG_free>>;
using P8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OsslDeleter<PKCS8_PRIV_KEY_INFO_free>>;
using ExtStackPtr = std::unique_ptr<STACK_OF(X509_EXTENSION), OsslDeleter<+[](STACK_OF(X509_EXTENSION) * s) {
                                        sk_X509_EXTENSION_pop_free(s, X509_EXTENSION_free);
                                    }>>;
using CertStackPtr =
    std::unique_ptr<STACK_OF(X509), OsslDeleter<+[](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }>>;
using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OsslDeleter<X509_EXTENSION_free>>;

// Loads the GOST engine once per process and makes it the default for its algorithms.
// False when the engine is not installed.
bool GostEngineReady();

}  // namespace mespro
