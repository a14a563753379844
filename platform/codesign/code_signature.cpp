// Appended CMS code signatures: layout, verification and signing on OpenSSL 3.
#include "platform/codesign/code_signature.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/codesign/openssl_handles.h"

namespace zolm::platform::codesign {

struct TrustedRoots::Store {
    X509StorePtr roots;
};

struct Signer::Material {
    X509Ptr cert;
    PkeyPtr key;
    CertStackPtr chain;
};

namespace {

constexpr uint8_t kIdPkcs7 = 2;

// The oldest queued OpenSSL reason, then clears the queue; "unknown reason" when there is none.
std::string OpenSslReason() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    const char *reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "OpenSSL error " + std::to_string(code);
}

[[noreturn]] void Refuse(Refusal refusal, const std::string &text) {
    ERR_clear_error();
    throw SignatureError(refusal, static_cast<int>(refusal), text);
}

BioPtr MemoryBio(std::span<const uint8_t> bytes) {
    // A read-only BIO over the caller's bytes; its length is an int.
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw std::length_error("file too large to verify");
    BioPtr bio(
        BIO_new_mem_buf(bytes.empty() ? "" : static_cast<const void *>(bytes.data()), static_cast<int>(bytes.size())));
    if (!bio) throw std::bad_alloc();
    return bio;
}

std::string CommonName(X509 *cert) {
    X509_NAME *subject = X509_get_subject_name(cert);
    int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (at < 0) return {};
    unsigned char *utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
    if (length < 0) return {};
    std::string name(reinterpret_cast<char *>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return name;
}

// The chain from the signer to a trusted root, then the code-signing usage of the signer's own
// certificate: the extended key usage must be present and name code signing, and a key usage, when
// present, must allow digital signatures.
void CheckSigner(X509 *signer, STACK_OF(X509) * untrusted, const TrustedRoots &roots) {
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), roots.store().roots.get(), signer, untrusted) != 1)
        throw std::bad_alloc();
    if (X509_verify_cert(ctx.get()) != 1) {
        int error = X509_STORE_CTX_get_error(ctx.get());
        std::string reason = X509_verify_cert_error_string(error);
        if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID)
            Refuse(Refusal::kExpired,
                   "a certificate of the code signature is outside its validity period (" + reason + ")");
        Refuse(Refusal::kUntrustedRoot,
               "the code signature's certificate does not chain to a trusted root (" + reason + ")");
    }
    uint32_t flags = X509_get_extension_flags(signer);
    bool codeSigning = (flags & EXFLAG_XKUSAGE) != 0 && (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) != 0;
    bool signingKey = (flags & EXFLAG_KUSAGE) == 0 || (X509_get_key_usage(signer) & KU_DIGITAL_SIGNATURE) != 0;
    if (!codeSigning || !signingKey)
        Refuse(Refusal::kWrongUsage, "the code signature's certificate is not valid for code signing");
}

std::string ReadTextFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::invalid_argument("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::optional<SignedLayout> FindSignature(std::span<const uint8_t> file) {
    const size_t tail = kTrailerSize + kMagic.size();
    if (file.size() < tail) return std::nullopt;
    const uint8_t *magic = file.data() + file.size() - kMagic.size();
    if (std::memcmp(magic, kMagic.data(), kMagic.size()) != 0) return std::nullopt;
    const uint8_t *trailer = magic - kTrailerSize;
    // algorithm, hash, id type, signer length, key id length: the kernel's values for PKCS #7.
    if (trailer[0] != 0 || trailer[1] != 0 || trailer[2] != kIdPkcs7 || trailer[3] != 0 || trailer[4] != 0)
        return std::nullopt;
    uint32_t cmsLength = (uint32_t{trailer[8]} << 24) | (uint32_t{trailer[9]} << 16) | (uint32_t{trailer[10]} << 8) |
                         uint32_t{trailer[11]};
    if (cmsLength == 0 || cmsLength > file.size() - tail) return std::nullopt;
    return SignedLayout{file.size() - tail - cmsLength, cmsLength};
}

TrustedRoots TrustedRoots::FromPem(std::string_view pem) {
    auto store = std::make_shared<Store>();
    store->roots.reset(X509_STORE_new());
    if (!store->roots) throw std::bad_alloc();
    BioPtr bio = MemoryBio({reinterpret_cast<const uint8_t *>(pem.data()), pem.size()});
    int count = 0;
    while (X509Ptr cert{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        if (X509_STORE_add_cert(store->roots.get(), cert.get()) != 1) {
            ERR_clear_error();  // the same root listed twice
            continue;
        }
        ++count;
    }
    ERR_clear_error();  // the end of the text reads as "no start line"
    if (count == 0) throw std::invalid_argument("no trusted root certificate in the PEM text");
    TrustedRoots roots;
    roots.store_ = std::move(store);
    return roots;
}

std::string VerifyBytes(std::span<const uint8_t> file, const TrustedRoots &roots) {
    ERR_clear_error();
    auto layout = FindSignature(file);
    if (!layout) Refuse(Refusal::kNotSigned, "the file carries no code signature");
    std::span<const uint8_t> content = file.first(layout->contentLength);
    std::span<const uint8_t> der = file.subspan(layout->contentLength, layout->cmsLength);

    const unsigned char *cursor = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cms || cursor != der.data() + der.size() || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        CMS_is_detached(cms.get()) != 1)
        Refuse(Refusal::kNotSigned, "the file's code signature is not a detached CMS SignedData");

    // The signatures over exactly the preceding bytes first, the certificates afterwards.
    BioPtr data = MemoryBio(content);
    if (CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
        Refuse(Refusal::kBadDigest, "the code signature does not match the file");

    BorrowedCertStackPtr signers(CMS_get0_signers(cms.get()));
    CertStackPtr included(CMS_get1_certs(cms.get()));
    if (!signers || sk_X509_num(signers.get()) == 0)
        Refuse(Refusal::kNotSigned, "the file's code signature has no signer");
    for (int i = 0; i < sk_X509_num(signers.get()); ++i)
        CheckSigner(sk_X509_value(signers.get(), i), included.get(), roots);
    return CommonName(sk_X509_value(signers.get(), 0));
}

std::string VerifyDescriptor(int fd, const TrustedRoots &roots) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw SignatureError(Refusal::kReadFailed, errno, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw SignatureError(Refusal::kReadFailed, EINVAL, "not a regular file");
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t have = 0;
    while (have < bytes.size()) {
        ssize_t got = ::pread(fd, bytes.data() + have, bytes.size() - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw SignatureError(Refusal::kReadFailed, errno, std::strerror(errno));
        if (got == 0) break;  // the file shrank: what is there is checked, and fails
        have += static_cast<size_t>(got);
    }
    bytes.resize(have);
    return VerifyBytes(bytes, roots);
}

Signer Signer::FromPem(std::string_view certPem, std::string_view keyPem) {
    auto material = std::make_shared<Material>();
    BioPtr certs = MemoryBio({reinterpret_cast<const uint8_t *>(certPem.data()), certPem.size()});
    material->cert.reset(PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr));
    if (!material->cert) throw std::invalid_argument("no certificate in the signer's PEM text");
    material->chain.reset(sk_X509_new_null());
    while (X509Ptr extra{PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr)}) {
        if (sk_X509_push(material->chain.get(), extra.get()) == 0) throw std::bad_alloc();
        extra.release();
    }
    ERR_clear_error();
    BioPtr key = MemoryBio({reinterpret_cast<const uint8_t *>(keyPem.data()), keyPem.size()});
    material->key.reset(PEM_read_bio_PrivateKey(key.get(), nullptr, nullptr, nullptr));
    if (!material->key) {
        ERR_clear_error();
        throw std::invalid_argument("no private key in the signer's key PEM text");
    }
    if (X509_check_private_key(material->cert.get(), material->key.get()) != 1) {
        ERR_clear_error();
        throw std::invalid_argument("the private key does not belong to the signer's certificate");
    }
    Signer signer;
    signer.material_ = std::move(material);
    return signer;
}

Signer Signer::FromPemFiles(const std::string &certPath, const std::string &keyPath) {
    return FromPem(ReadTextFile(certPath), ReadTextFile(keyPath));
}

std::vector<uint8_t> MakeSignatureBlock(std::span<const uint8_t> content, const Signer &signer) {
    ERR_clear_error();
    BioPtr data = MemoryBio(content);
    const Signer::Material &m = signer.material();
    CmsPtr cms(
        CMS_sign(m.cert.get(), m.key.get(), m.chain.get(), data.get(), CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
    if (!cms) throw std::runtime_error("CMS signing failed: " + OpenSslReason());
    int length = i2d_CMS_ContentInfo(cms.get(), nullptr);
    if (length <= 0) throw std::runtime_error("CMS encoding failed: " + OpenSslReason());
    std::vector<uint8_t> block(static_cast<size_t>(length) + kTrailerSize + kMagic.size(), 0);
    unsigned char *out = block.data();
    i2d_CMS_ContentInfo(cms.get(), &out);
    uint8_t *trailer = block.data() + length;
    trailer[2] = kIdPkcs7;
    uint32_t cmsLength = static_cast<uint32_t>(length);
    trailer[8] = static_cast<uint8_t>(cmsLength >> 24);
    trailer[9] = static_cast<uint8_t>(cmsLength >> 16);
    trailer[10] = static_cast<uint8_t>(cmsLength >> 8);
    trailer[11] = static_cast<uint8_t>(cmsLength);
    std::memcpy(trailer + kTrailerSize, kMagic.data(), kMagic.size());
    return block;
}

void SignFile(const std::string &path, const Signer &signer, const std::string &outPath) {
    const std::string target = outPath.empty() ? path : outPath;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path + ": " + std::strerror(errno));

    // Signing again replaces the old signature instead of signing it along.
    if (auto layout = FindSignature(bytes)) bytes.resize(layout->contentLength);
    std::vector<uint8_t> block = MakeSignatureBlock(bytes, signer);

    std::string temp = target + ".signing-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) throw std::runtime_error("cannot create a file beside " + target + ": " + std::strerror(errno));
    auto fail = [&](const std::string &what) {
        int error = errno;
        ::close(fd);
        ::unlink(name.data());
        throw std::runtime_error(what + " " + target + ": " + std::strerror(error));
    };
    for (const std::vector<uint8_t> *part : {&bytes, &block}) {
        const uint8_t *p = part->data();
        size_t left = part->size();
        while (left > 0) {
            ssize_t done = ::write(fd, p, left);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) fail("cannot write");
            p += done;
            left -= static_cast<size_t>(done);
        }
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0 || ::fsync(fd) != 0) fail("cannot finish");
    if (::close(fd) != 0) {
        ::unlink(name.data());
        throw std::runtime_error("cannot finish " + target + ": " + std::strerror(errno));
    }
    if (::rename(name.data(), target.c_str()) != 0) {
        int error = errno;
        ::unlink(name.data());
        throw std::runtime_error("cannot replace " + target + ": " + std::strerror(error));
    }
}

}  // namespace zolm::platform::codesign
