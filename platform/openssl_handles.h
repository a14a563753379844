// OpenSSL handles owned through unique_ptr, one alias per handle type, each freed with its own call.
// Shared by every module that uses OpenSSL directly (code signature, Message-PRO stand-in, software CSP).
#pragma once

// pem.h first: cms.h declares its PEM functions only after it.
#include <openssl/pem.h>
//
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace zolm::ossl {

template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T *p) const noexcept {
        Free(p);
    }
};

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter<EVP_CIPHER_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OsslDeleter<X509_EXTENSION_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX_free>>;
using P8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OsslDeleter<PKCS8_PRIV_KEY_INFO_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, OsslDeleter<X509_REQ_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OsslDeleter<X509_SIG_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE_free>>;
using CertStackPtr =
    std::unique_ptr<STACK_OF(X509), OsslDeleter<+[](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }>>;
// A stack whose certificates belong to someone else (CMS_get0_signers).
using BorrowedCertStackPtr = std::unique_ptr<STACK_OF(X509), OsslDeleter<+[](STACK_OF(X509) * s) { sk_X509_free(s); }>>;
using ExtStackPtr = std::unique_ptr<STACK_OF(X509_EXTENSION), OsslDeleter<+[](STACK_OF(X509_EXTENSION) * s) {
                                        sk_X509_EXTENSION_pop_free(s, X509_EXTENSION_free);
                                    }>>;

}  // namespace zolm::ossl
