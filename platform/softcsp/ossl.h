// One owning pointer per OpenSSL handle type used by the software CSP; each frees with its own call.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace softcsp {

template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T *p) const noexcept {
        Free(p);
    }
};

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter<EVP_CIPHER_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;

}  // namespace softcsp
