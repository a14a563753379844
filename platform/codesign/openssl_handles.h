// OpenSSL handles of the code signature, each owned through unique_ptr with its own free function.
#pragma once

// pem.h first: cms.h declares its PEM functions only after it.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace zolm::platform::codesign {

template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T *p) const noexcept {
        Free(p);
    }
};

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX_free>>;
using CertStackPtr =
    std::unique_ptr<STACK_OF(X509), OsslDeleter<+[](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }>>;
// A stack whose certificates belong to someone else (CMS_get0_signers).
using BorrowedCertStackPtr = std::unique_ptr<STACK_OF(X509), OsslDeleter<+[](STACK_OF(X509) * s) { sk_X509_free(s); }>>;

}  // namespace zolm::platform::codesign
