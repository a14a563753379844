// Appended CMS code signatures: layout, verification and signing on OpenSSL 3.
#include "platform/codesign/code_signature.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

constexpr size_t kTailSize = kTrailerSize + kMagic.size();

// The trailer and magic at the end of a file of fileSize bytes.
std::optional<SignedLayout> ParseTail(std::span<const uint8_t> tail, uint64_t fileSize) {
    const uint8_t *magic = tail.data() + kTrailerSize;
    if (std::memcmp(magic, kMagic.data(), kMagic.size()) != 0) return std::nullopt;
    const uint8_t *trailer = tail.data();
    // algorithm, hash, id type, signer length, key id length: the kernel's values for PKCS #7.
    if (trailer[0] != 0 || trailer[1] != 0 || trailer[2] != kIdPkcs7 || trailer[3] != 0 || trailer[4] != 0)
        return std::nullopt;
    uint32_t cmsLength = (uint32_t{trailer[8]} << 24) | (uint32_t{trailer[9]} << 16) | (uint32_t{trailer[10]} << 8) |
                         uint32_t{trailer[11]};
    if (cmsLength == 0 || cmsLength > fileSize - kTailSize) return std::nullopt;
    return SignedLayout{fileSize - kTailSize - cmsLength, cmsLength};
}

// Reads exactly length bytes at offset; a short read (the file shrank) is EIO.
void ReadAt(int fd, uint8_t *out, size_t length, uint64_t offset) {
    size_t have = 0;
    while (have < length) {
        ssize_t got = ::pread(fd, out + have, length - have, static_cast<off_t>(offset + have));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw SignatureError(Refusal::kReadFailed, errno, std::strerror(errno));
        if (got == 0) throw SignatureError(Refusal::kReadFailed, EIO, std::strerror(EIO));
        have += static_cast<size_t>(got);
    }
}

// A read-only BIO over [offset, end) of a descriptor, read with pread; error keeps the errno of a
// failed or short read.
struct DescriptorRange {
    int fd;
    uint64_t offset;
    uint64_t end;
    int error;
};

int RangeRead(BIO *bio, char *out, size_t length, size_t *done) {
    auto *range = static_cast<DescriptorRange *>(BIO_get_data(bio));
    *done = 0;
    if (range->offset >= range->end || length == 0) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(length, range->end - range->offset));
    ssize_t got;
    do {
        got = ::pread(range->fd, out, want, static_cast<off_t>(range->offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        range->error = got < 0 ? errno : EIO;
        return 0;
    }
    range->offset += static_cast<uint64_t>(got);
    *done = static_cast<size_t>(got);
    return 1;
}

long RangeControl(BIO *bio, int command, long, void *) {
    auto *range = static_cast<DescriptorRange *>(BIO_get_data(bio));
    if (command == BIO_CTRL_EOF) return range->offset >= range->end ? 1 : 0;
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BioPtr RangeBio(DescriptorRange &range) {
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "descriptor range");
        if (m == nullptr || BIO_meth_set_read_ex(m, RangeRead) != 1 || BIO_meth_set_ctrl(m, RangeControl) != 1)
            throw std::bad_alloc();
        return m;
    }();
    BioPtr bio(BIO_new(method));
    if (!bio) throw std::bad_alloc();
    BIO_set_data(bio.get(), &range);
    BIO_set_init(bio.get(), 1);
    return bio;
}

// The CMS over the content read from content: structure, signatures over exactly those bytes, then
// each signer's certificate. range, when given, is where a read error is found.
std::string VerifyCms(std::span<const uint8_t> der, BIO *content, const TrustedRoots &roots,
                      const DescriptorRange *range) {
    const unsigned char *cursor = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cms || cursor != der.data() + der.size() || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        CMS_is_detached(cms.get()) != 1)
        Refuse(Refusal::kNotSigned, "the file's code signature is not a detached CMS SignedData");

    bool signaturesHold =
        CMS_verify(cms.get(), nullptr, nullptr, content, nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
    if (range != nullptr && range->error != 0)
        throw SignatureError(Refusal::kReadFailed, range->error, std::strerror(range->error));
    if (!signaturesHold) {
        if (ERR_GET_REASON(ERR_peek_last_error()) == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND)
            Refuse(Refusal::kUntrustedRoot, "the code signature does not carry its signer's certificate");
        Refuse(Refusal::kBadDigest, "the code signature does not match the file");
    }

    BorrowedCertStackPtr signers(CMS_get0_signers(cms.get()));
    CertStackPtr included(CMS_get1_certs(cms.get()));
    if (!signers || sk_X509_num(signers.get()) == 0)
        Refuse(Refusal::kNotSigned, "the file's code signature has no signer");
    for (int i = 0; i < sk_X509_num(signers.get()); ++i)
        CheckSigner(sk_X509_value(signers.get(), i), included.get(), roots);
    return CommonName(sk_X509_value(signers.get(), 0));
}

}  // namespace

std::optional<SignedLayout> FindSignature(std::span<const uint8_t> file) {
    if (file.size() < kTailSize) return std::nullopt;
    return ParseTail(file.last(kTailSize), file.size());
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
    BioPtr content = MemoryBio(file.first(layout->contentLength));
    return VerifyCms(file.subspan(layout->contentLength, layout->cmsLength), content.get(), roots, nullptr);
}

std::string VerifyDescriptor(int fd, const TrustedRoots &roots) {
    ERR_clear_error();
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw SignatureError(Refusal::kReadFailed, errno, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw SignatureError(Refusal::kReadFailed, EINVAL, "not a regular file");
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size < kTailSize) Refuse(Refusal::kNotSigned, "the file carries no code signature");
    std::vector<uint8_t> tail(kTailSize);
    ReadAt(fd, tail.data(), tail.size(), size - kTailSize);
    auto layout = ParseTail(tail, size);
    if (!layout) Refuse(Refusal::kNotSigned, "the file carries no code signature");
    std::vector<uint8_t> der(layout->cmsLength);
    ReadAt(fd, der.data(), der.size(), layout->contentLength);
    // The signed bytes are streamed through the digest, never held whole in memory.
    DescriptorRange range{fd, 0, layout->contentLength, 0};
    BioPtr content = RangeBio(range);
    return VerifyCms(der, content.get(), roots, &range);
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
