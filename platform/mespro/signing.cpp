// Certificates known to a session (AddCAs, AddCertificateFromBuffer), sign contexts and CMS
// signatures (SignBufferEx) with the signer's certificate, its known CA chain and the signing time.
#include <dirent.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/mespro/session.h"

namespace mespro {
namespace {

SignContext &Context(void *context) {
    auto &contexts = Lib().contexts;
    auto it = std::find_if(contexts.begin(), contexts.end(), [&](const auto &c) { return c.get() == context; });
    if (it == contexts.end()) throw Failure{MESPRO_E_NULL};
    return **it;
}

// The CA certificates above the signer, as far as the session knows them; the root itself is left out.
CertStackPtr Chain(X509 *signer) {
    CertStackPtr chain(sk_X509_new_null());
    if (!chain) throw std::bad_alloc();
    X509 *current = signer;
    for (int depth = 0; depth < 16; ++depth) {
        if (X509_check_issued(current, current) == X509_V_OK) break;
        X509 *issuer = nullptr;
        for (X509Ptr &ca : Lib().caCertificates) {
            if (X509_check_issued(ca.get(), current) == X509_V_OK) issuer = ca.get();
        }
        if (issuer == nullptr || X509_check_issued(issuer, issuer) == X509_V_OK) break;
        if (X509_up_ref(issuer) != 1 || sk_X509_push(chain.get(), issuer) <= 0) throw std::bad_alloc();
        current = issuer;
    }
    return chain;
}

}  // namespace
}  // namespace mespro

using namespace mespro;

extern "C" {

int32_t AddCAs(const char *location) {
    return Run([&] {
        RequireSession();
        std::string folder = RequireText(location);
        if (folder.back() != '/') folder += '/';
        DIR *dir = opendir(folder.c_str());
        if (dir == nullptr) return;  // no CA certificates there
        std::vector<std::string> names;
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            std::string bytes;
            if (!ReadWholeFile(folder + name, bytes)) continue;
            // Files that hold no certificate (notes, lists) are passed over.
            if (X509Ptr cert = ReadCertificate(bytes)) Lib().caCertificates.push_back(std::move(cert));
        }
    });
}

int32_t AddCertificateFromBuffer(const void *data, int32_t length) {
    return Run([&] {
        RequireSession();
        if (data == nullptr || length <= 0) throw Failure{MESPRO_E_NULL};
        X509Ptr cert = ReadCertificate(std::string(static_cast<const char *>(data), static_cast<size_t>(length)));
        if (!cert) throw Failure{MESPRO_E_CERT_READ};
        Lib().certificates.push_back(std::move(cert));
    });
}

char *GetCertificateSerialBuffer(const void *data, int32_t length) {
    char *text = nullptr;
    Run([&] {
        if (data == nullptr || length <= 0) throw Failure{MESPRO_E_NULL};
        X509Ptr cert = ReadCertificate(std::string(static_cast<const char *>(data), static_cast<size_t>(length)));
        if (!cert) throw Failure{MESPRO_E_CERT_READ};
        std::string serial = SerialText(cert.get());
        text = static_cast<char *>(std::malloc(serial.size() + 1));
        if (text == nullptr) throw std::bad_alloc();
        std::memcpy(text, serial.c_str(), serial.size() + 1);
    });
    return text;
}

void *GetSignCTX(void) {
    void *context = nullptr;
    Run([&] {
        RequireSession();
        Lib().contexts.push_back(std::make_unique<SignContext>());
        context = Lib().contexts.back().get();
    });
    return context;
}

int32_t FreeSignCTX(void *context) {
    return Run([&] {
        auto &contexts = Lib().contexts;
        Context(context);
        contexts.erase(
            std::find_if(contexts.begin(), contexts.end(), [&](const auto &c) { return c.get() == context; }));
    });
}

int32_t AddSigner(void *context, int32_t signerMode, const char *signer, int32_t) {
    return Run([&] {
        RequireSession();
        SignContext &ctx = Context(context);
        std::string name = RequireText(signer);
        if (signerMode == 0) {
            std::string bytes;
            if (!ReadWholeFile(name, bytes)) throw Failure{MESPRO_E_SIGNER_CERT};
            ctx.signer = ReadCertificate(bytes);
            if (!ctx.signer) throw Failure{MESPRO_E_SIGNER_CERT};
        } else if (signerMode == 2) {
            X509 *found = FindCertificate(name);
            if (found == nullptr) throw Failure{MESPRO_E_SIGNER_NOT_FOUND};
            if (X509_up_ref(found) != 1) throw std::bad_alloc();
            ctx.signer.reset(found);
        } else {
            throw Failure{MESPRO_E_NOT_SUPPORTED};
        }
    });
}

int32_t InsertCertificateToSign(int32_t insert) {
    return Run([&] {
        RequireSession();
        Lib().insertCertificate = insert != 0;
    });
}

int32_t InsertSigningTimeToSign(int32_t insert) {
    return Run([&] {
        RequireSession();
        if (insert != 1) throw Failure{MESPRO_E_NOT_SUPPORTED};
    });
}

int32_t SignBufferEx(void *context, const void *data, int32_t length, void **output, int32_t *outputLength,
                     int32_t attached) {
    return Run([&] {
        RequireSession();
        State &lib = Lib();
        SignContext &ctx = Context(context);
        if (output == nullptr || outputLength == nullptr || (data == nullptr && length != 0))
            throw Failure{MESPRO_E_NULL};
        if (length < 0) throw Failure{MESPRO_E_INPUT};
        if (!ctx.signer) throw Failure{MESPRO_E_SIGNER_INFO};
        if (!lib.privateKey) throw Failure{MESPRO_E_KEY_NOT_LOADED};
        if (X509_check_private_key(ctx.signer.get(), lib.privateKey.get()) != 1) throw Failure{MESPRO_E_SIGNER_INFO};

        BioPtr in(BIO_new_mem_buf(length != 0 ? data : "", length));
        if (!in) throw std::bad_alloc();
        CertStackPtr chain = lib.insertCertificate ? Chain(ctx.signer.get()) : CertStackPtr(sk_X509_new_null());
        unsigned flags = CMS_BINARY | CMS_NOSMIMECAP;
        if (attached == 0) flags |= CMS_DETACHED;
        if (!lib.insertCertificate) flags |= CMS_NOCERTS;
        CmsPtr cms(CMS_sign(ctx.signer.get(), lib.privateKey.get(), chain.get(), in.get(), flags));
        if (!cms) throw Failure{MESPRO_E_SIGN_INIT};

        int size = i2d_CMS_ContentInfo(cms.get(), nullptr);
        if (size <= 0) throw Failure{MESPRO_E_SIGN_FINAL};
        unsigned char *block = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size)));
        if (block == nullptr) throw std::bad_alloc();
        unsigned char *p = block;
        if (i2d_CMS_ContentInfo(cms.get(), &p) != size) {
            std::free(block);
            throw Failure{MESPRO_E_SIGN_FINAL};
        }
        *output = block;
        *outputLength = size;
    });
}

}  // extern "C"
