// VerifyDevelopersSign: the library file's detached signature ("mespro.sig") must verify over the
// whole file, chain to a root compiled into the library and come from a code-signing certificate.
#include <openssl/err.h>
#include <openssl/pem.h>

#include "platform/mespro/session.h"

extern "C" const char kMesproTrustedRoots[];  // PEM, generated at build time

namespace mespro {
namespace {

X509StorePtr TrustedRoots() {
    X509StorePtr store(X509_STORE_new());
    BioPtr pem(BIO_new_mem_buf(kMesproTrustedRoots, -1));
    if (!store || !pem) return nullptr;
    while (X509Ptr root{PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)}) {
        if (X509_STORE_add_cert(store.get(), root.get()) != 1) return nullptr;
    }
    ERR_clear_error();
    // Code signing certificates carry no S/MIME purpose; the usage is checked below.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    return store;
}

bool Verify(const char *libraryPath, const void *signature, int32_t length) {
    if (libraryPath == nullptr || signature == nullptr || length <= 0) return false;
    std::string file;
    if (!ReadWholeFile(libraryPath, file)) return false;
    const unsigned char *p = static_cast<const unsigned char *>(signature);
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, length));
    X509StorePtr store = TrustedRoots();
    BioPtr content(BIO_new_mem_buf(file.data(), static_cast<int>(file.size())));
    if (!cms || !store || !content || !CMS_is_detached(cms.get())) return false;
    if (CMS_verify(cms.get(), nullptr, store.get(), content.get(), nullptr, CMS_BINARY) != 1) return false;
    STACK_OF(X509) *signers = CMS_get0_signers(cms.get());
    bool codeSigning = sk_X509_num(signers) > 0;
    for (int i = 0; i < sk_X509_num(signers); ++i) {
        X509 *signer = sk_X509_value(signers, i);
        codeSigning = codeSigning && (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
                      (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) != 0;
    }
    sk_X509_free(signers);
    return codeSigning;
}

}  // namespace
}  // namespace mespro

extern "C" int32_t VerifyDevelopersSign(const char *libraryPath, const void *signature, int32_t length) {
    bool valid = false;
    int32_t code = mespro::Run([&] { valid = mespro::Verify(libraryPath, signature, length); });
    ERR_clear_error();
    return code == 0 && valid ? 1 : 0;
}
